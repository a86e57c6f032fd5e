#include "platform/Dialogs.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/LogCapture.h"
#include "support/ScriptedDialogs.h"

namespace vantrel {
namespace {

TEST(Dialogs, DefaultButtonFollowsFlags) {
  EXPECT_EQ(DefaultMessageBoxResult(MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(DefaultMessageBoxResult(MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
  EXPECT_EQ(DefaultMessageBoxResult(MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(DefaultMessageBoxResult(MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(DefaultMessageBoxResult(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_EQ(DefaultMessageBoxResult(MB_ABORTRETRYIGNORE | MB_DEFBUTTON2), IDRETRY);
  // A default button the box does not have falls back to the first.
  EXPECT_EQ(DefaultMessageBoxResult(MB_YESNO | MB_DEFBUTTON3), IDYES);
  EXPECT_EQ(DefaultMessageBoxResult(0xE), IDOK);
}

TEST(Dialogs, ScriptedAnswersInOrderThenDefaults) {
  TScriptedDialogs dlg;
  dlg.PushResult(IDNO);
  dlg.PushLogin("alice", "secret", "CORP");
  EXPECT_FALSE(dlg.Confirm("Are you sure you would like to delete this desktop?", "Delete"));
  TLoginPrompt p;
  p.Caption = "VDI Authentication";
  p.ButtonText = "Ok";
  p.DomainVisible = false;
  p.User = "bob";
  EXPECT_EQ(dlg.Login(p), IDOK);
  EXPECT_EQ(p.User, "alice");
  EXPECT_EQ(p.Password, "secret");
  EXPECT_EQ(p.Domain, "CORP");
  EXPECT_EQ(dlg.Pending(), 0u);
  // Queue empty: what a user pressing Enter or Escape would get.
  EXPECT_EQ(dlg.MessageBox("x", "y", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
  TLoginPrompt q;
  q.User = "kept";
  EXPECT_EQ(dlg.Login(q), IDCANCEL);
  EXPECT_EQ(q.User, "kept");
  EXPECT_EQ(dlg.AskButtons("Pick", "", "Option1", "Option2"), IDYES);

  auto shown = dlg.Shown();
  ASSERT_EQ(shown.size(), 5u);
  EXPECT_EQ(shown[0].Kind, TScriptedDialogs::TKind::MessageBox);
  EXPECT_EQ(shown[0].Flags, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(shown[0].Result, IDNO);
  EXPECT_EQ(shown[1].Kind, TScriptedDialogs::TKind::Login);
  EXPECT_EQ(shown[1].Prompt.Caption, "VDI Authentication");
  EXPECT_EQ(shown[1].Prompt.User, "bob");  // the initial text, not the answer
  EXPECT_FALSE(shown[1].Prompt.DomainVisible);
  EXPECT_EQ(shown[4].Buttons, (std::vector<std::string>{"Option1", "Option2"}));
}

TEST(Dialogs, CertificateChoiceKeepsToTheRows) {
  TScriptedDialogs dlg;
  std::vector<TCertRow> rows{{"CN=a", "CN=ca"}, {"CN=b", "CN=ca"}, {"CN=c", "CN=ca"}};
  dlg.Push({IDOK, {}, {}, {}, 1});
  dlg.Push({IDOK, {}, {}, {}, 7});  // a row that is not there cannot be chosen
  dlg.Push({IDCANCEL, {}, {}, {}, 0});
  EXPECT_EQ(dlg.SelectCertificate(rows), 1);
  EXPECT_EQ(dlg.SelectCertificate(rows), -1);
  EXPECT_EQ(dlg.SelectCertificate(rows), -1);
  EXPECT_EQ(dlg.Shown()[0].Rows.size(), 3u);
}

TEST(Dialogs, ScriptedIsSafeFromManyThreads) {
  TScriptedDialogs dlg;
  for (int i = 0; i < 400; ++i) dlg.PushResult(IDYES);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) EXPECT_TRUE(dlg.Confirm("q", "c"));
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(dlg.Shown().size(), 400u);
  EXPECT_EQ(dlg.Pending(), 0u);
}

TEST(Dialogs, LoggingDialogsNeverLogPasswords) {
  test::TLogCapture cap;
  TLoggingDialogs dlg;
  EXPECT_EQ(dlg.MessageBox("Failed to load x (2)", "Info", MB_OK | MB_ICONINFORMATION), IDOK);
  EXPECT_TRUE(dlg.Confirm("Turn it on?", "Desktop"));
  TLoginPrompt p;
  p.Password = "hunter2";
  EXPECT_EQ(dlg.Login(p), IDCANCEL);
  EXPECT_EQ(dlg.SelectCertificate({{"s", "i"}}), -1);
  EXPECT_TRUE(cap.HasLine("MessageBox - Info - Failed to load x (2)"));
  EXPECT_FALSE(cap.Contains("hunter2"));
}

}  // namespace
}  // namespace vantrel
