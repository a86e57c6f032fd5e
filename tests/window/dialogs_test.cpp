// Each dialog's window form, asked from a worker thread as the session asks them, answered by
// pressing its widgets.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/gtk/GtkDialogs.h"
#include "window/gtk_fixture.h"

namespace vantrel::test {
namespace {

using host::gtk::TGtkDialogs;

void Click(const char* prmWindow, const char* prmButton) {
  gtk_button_clicked(GTK_BUTTON(InWindow(prmWindow, prmButton)));
}

void Type(const char* prmWidget, const char* prmText) {
  gtk_entry_set_text(GTK_ENTRY(InWindow("dlgLogin", prmWidget)), prmText);
}

std::function<bool()> Shown(const char* prmWindow) {
  return [prmWindow] { return Toplevel(prmWindow) != nullptr; };
}

std::string LoginSummary(IDialogs& prmDialogs, TLoginPrompt prmPrompt) {
  int r = prmDialogs.Login(prmPrompt);
  return std::to_string(r) + "|" + prmPrompt.User + "|" + prmPrompt.Password + "|" +
         prmPrompt.Domain;
}

TServerCertInfo Cert() {
  return {"gw", 443, "CN=gw", "CN=gw", "Jan  1 2026", "Jan  1 2027", "AB:CD", "self-signed"};
}

struct TCase {
  const char* Name;
  std::function<std::string(IDialogs&)> Ask;
  std::function<std::vector<TStep>(TGtkDialogs&)> Answer;
  std::string Expected;
};

TEST(WindowDialogs, EachFormAnswersAsItsButtonsFromAWorkerThread) {
  std::string why;
  ASSERT_TRUE(StartGtkDisplay(why)) << why;
  TLoginPrompt proxy;
  proxy.Caption = "Proxy Credentials";
  proxy.ButtonText = "OK";
  proxy.Domain = "KEPT";
  proxy.DomainVisible = false;
  const std::vector<TCertRow> certs = {{"CN=one", "CN=ca"}, {"CN=two", "CN=ca"}, {"CN=3", "CN=ca"}};
  const TCase cases[] = {
      {"yes/no answered no",
       [](IDialogs& d) { return std::to_string(d.MessageBox("Delete?", "T", MB_YESNO)); },
       [](TGtkDialogs&) {
         return std::vector<TStep>{
             {"box", Shown("dlgMessage"), [] { Click("dlgMessage", "button7"); }}};
       },
       "7"},
      {"ok/cancel closed by the window manager is cancel",
       [](IDialogs& d) { return std::to_string(d.MessageBox("Go on?", "T", MB_OKCANCEL)); },
       [](TGtkDialogs&) {
         return std::vector<TStep>{{"box", Shown("dlgMessage"),
                                    [] { gtk_window_close(GTK_WINDOW(Toplevel("dlgMessage"))); }}};
       },
       "2"},
      {"two captions, the second",
       [](IDialogs& d) { return std::to_string(d.AskButtons("Which?", "T", "First", "Second")); },
       [](TGtkDialogs&) {
         return std::vector<TStep>{
             {"box", Shown("dlgButtons"), [] { Click("dlgButtons", "buttonSecond"); }}};
       },
       "7"},
      {"proxy credentials without the domain row keep the domain",
       [proxy](IDialogs& d) { return LoginSummary(d, proxy); },
       [](TGtkDialogs&) {
         return std::vector<TStep>{
             {"form", Shown("dlgLogin"), [] {
                EXPECT_FALSE(gtk_widget_get_visible(InWindow("dlgLogin", "edDomain")));
                EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(Toplevel("dlgLogin"))),
                             "Proxy Credentials");
                Type("edUsername", "alice");
                Type("edPassword", "s3cret");
                Click("dlgLogin", "Button1");
              }}};
       },
       "1|alice|s3cret|KEPT"},
      {"login cancelled leaves the prompt",
       [](IDialogs& d) {
         return LoginSummary(d, TLoginPrompt{"Login...", "Login", "bob", "", "D", true});
       },
       [](TGtkDialogs&) {
         return std::vector<TStep>{{"form", Shown("dlgLogin"), [] {
                                      Type("edUsername", "mallory");
                                      Click("dlgLogin", "Button2");
                                    }}};
       },
       "2|bob||D"},
      {"certificate: OK without a row warns, a double-click chooses",
       [certs](IDialogs& d) { return std::to_string(d.SelectCertificate(certs)); },
       [](TGtkDialogs&) {
         return std::vector<TStep>{
             {"list", Shown("dlgSelectCert"), [] { Click("dlgSelectCert", "btOK"); }},
             {"warning", Shown("dlgMessage"),
              [] {
                gchar* text = nullptr;
                g_object_get(Toplevel("dlgMessage"), "text", &text, nullptr);
                EXPECT_STREQ(text, "You must select a certificate or select cancel");
                g_free(text);
                Click("dlgMessage", "button1");
              }},
             {"list again", [] { return Toplevel("dlgMessage") == nullptr; },
              [] {
                GtkTreePath* second = gtk_tree_path_new_from_indices(1, -1);
                gtk_tree_view_row_activated(
                    GTK_TREE_VIEW(InWindow("dlgSelectCert", "lvCerts")), second,
                    gtk_tree_view_get_column(GTK_TREE_VIEW(InWindow("dlgSelectCert", "lvCerts")),
                                             0));
                gtk_tree_path_free(second);
              }}};
       },
       "1"},
      {"a PIN typed hidden",
       [](IDialogs& d) {
         std::string pin = "kept";
         int r = d.AskSecret("PIN for card", "Smart card PIN", pin);
         return std::to_string(r) + "|" + pin;
       },
       [](TGtkDialogs&) {
         return std::vector<TStep>{{"form", Shown("dlgSecret"), [] {
                                      GtkWidget* e = InWindow("dlgSecret", "edSecret");
                                      EXPECT_FALSE(gtk_entry_get_visibility(GTK_ENTRY(e)));
                                      gtk_entry_set_text(GTK_ENTRY(e), "1234");
                                      Click("dlgSecret", "Button1");
                                    }}};
       },
       "1|1234"},
      {"gateway certificate: remembered with its own button",
       [](IDialogs& d) { return std::to_string(static_cast<int>(d.ConfirmServerCert(Cert()))); },
       [](TGtkDialogs&) {
         return std::vector<TStep>{
             {"form", Shown("dlgServerCert"), [] { Click("dlgServerCert", "buttonRemember"); }}};
       },
       "2"},
      {"gateway certificate: closing the window refuses",
       [](IDialogs& d) { return std::to_string(static_cast<int>(d.ConfirmServerCert(Cert()))); },
       [](TGtkDialogs&) {
         return std::vector<TStep>{{"form", Shown("dlgServerCert"), [] {
                                      gtk_window_close(GTK_WINDOW(Toplevel("dlgServerCert")));
                                    }}};
       },
       "0"},
      {"releasing the control closes the box and frees the worker",
       [](IDialogs& d) { return std::to_string(d.MessageBox("Wait", "T", MB_YESNO)); },
       [](TGtkDialogs& prmDialogs) {
         return std::vector<TStep>{
             {"box", Shown("dlgMessage"), [&prmDialogs] { prmDialogs.Cancel(); }}};
       },
       "7"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TGtkDialogs dialogs;
    std::atomic<bool> answered{false};
    std::string got;
    std::thread worker([&] {
      got = c.Ask(dialogs);
      answered = true;
    });
    std::vector<TStep> steps = c.Answer(dialogs);
    steps.push_back({"answered", [&] { return answered.load(); }, {}});
    EXPECT_EQ(RunSteps(steps, 20000, [&] { dialogs.Cancel(); }), "");
    worker.join();
    EXPECT_EQ(got, c.Expected);
    EXPECT_EQ(Toplevel("dlgMessage"), nullptr);
  }
}

}  // namespace
}  // namespace vantrel::test
