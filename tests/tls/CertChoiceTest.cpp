// The certificate choice over a folder of files: the single-certificate rule, the list, OK
// without a selection, Cancel, an empty store, passphrases, and files that cannot be used.
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/CertStore.h"
#include "platform/Dialogs.h"
#include "support/LogCapture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestCerts.h"
#include "support/TestEnv.h"
#include "tls/DlgSelectCert.h"

namespace vantrel::test {
namespace {

using TKind = TScriptedDialogs::TKind;
const char* const kFifo = "<fifo>";

struct TFile {
  std::string Name, Data;
};

struct TCase {
  const char* Name;
  std::vector<TFile> Files;
  std::vector<TScriptedDialogs::TAnswer> Answers;
  TCertChoice Choice;
  std::string ChosenCN;
  std::vector<size_t> ListsShown;          // rows of each list shown
  std::vector<std::string> Messages;       // message boxes, in order
  std::vector<std::string> LogLines = {};  // lines the store must have logged
};

std::string CommonName(const TClientCertificate& prmCert) {
  return prmCert.Cert ? CertDisplayName(X509_get_subject_name(prmCert.Cert.get())) : "";
}

TEST(CertChoice, OverFiles) {
  TTestCA ca("Test CA");
  TTestCert a = ca.Issue("a"), b = ca.Issue("b"), c = ca.Issue("c");
  TTestCert expired = ca.Issue("old", -30, -1);
  std::string pemA = CertPem(a) + KeyPem(a);
  const std::string warning = "You must select a certificate or select cancel";
  const std::string noKey = CertPem(b);
  auto ok = [](int prmIndex) { return TScriptedDialogs::TAnswer{IDOK, {}, {}, {}, prmIndex}; };
  auto secret = [](const char* prmText) {
    return TScriptedDialogs::TAnswer{IDOK, {}, prmText, {}, 0};
  };
  std::vector<TFile> three = {
      {"c.pem", CertPem(c)}, {"c.key", KeyPem(c)}, {"b.p12", Pkcs12(b, "")}, {"a.pem", pemA}};
  std::vector<TCase> cases = {
      {"one: used without a list", {{"a.pem", pemA}}, {}, TCertChoice::Chosen, "a", {}, {}},
      {"three: double-click on the second", three, {ok(1)}, TCertChoice::Chosen, "b", {3}, {}},
      {"OK without a selection is refused",
       three,
       {ok(-1), ok(0) /* the warning's OK */, ok(2)},
       TCertChoice::Chosen,
       "c",
       {3, 3},
       {warning}},
      {"cancel", three, {{IDCANCEL, {}, {}, {}, 0}}, TCertChoice::Cancelled, "", {3}, {}},
      {"none", {}, {}, TCertChoice::NoneInStore, "", {}, {}},
      {"bad files are skipped",
       {{"a.pem", pemA},
        {"b-truncated.pem", pemA.substr(0, pemA.size() / 2)},
        {"c-notes.txt", "not a certificate"},
        {"d-nokey.pem", noKey},
        {"e-expired.pem", CertPem(expired) + KeyPem(expired)},
        {"f-pipe.pem", kFifo},
        {"g-mismatch.pem", CertPem(c) + KeyPem(b)}},
       {},
       TCertChoice::Chosen,
       "a",
       {},
       {},
       {"CertStore - b-truncated.pem: skipped, no certificate",
        "CertStore - c-notes.txt: skipped, not a certificate file",
        "CertStore - d-nokey.pem: skipped, no private key",
        "CertStore - e-expired.pem: skipped, expired",
        "CertStore - f-pipe.pem: skipped, cannot be read",
        "CertStore - g-mismatch.pem: skipped, the key does not belong to the certificate"}},
      {"passphrase asked and given",
       {{"locked.p12", Pkcs12(a, "s3cret")}},
       {secret("s3cret")},
       TCertChoice::Chosen,
       "a",
       {},
       {}},
      {"wrong passphrase",
       {{"locked.p12", Pkcs12(a, "s3cret")}},
       {secret("guess")},
       TCertChoice::NoneInStore,
       "",
       {},
       {"The passphrase for locked.p12 is not correct"},
       {"CertStore - locked.p12: skipped, wrong passphrase"}},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const TCase& t = cases[i];
    SCOPED_TRACE(t.Name);
    std::string dir = TestRoot() + "/choice-" + std::to_string(i);
    mkdir(dir.c_str(), 0700);
    for (const TFile& f : t.Files) {
      if (f.Data == kFifo)
        ASSERT_EQ(mkfifo((dir + "/" + f.Name).c_str(), 0600), 0);
      else
        ASSERT_TRUE(WriteTestFile(dir + "/" + f.Name, f.Data));
    }
    TScriptedDialogs dialogs;
    for (const auto& a : t.Answers) dialogs.Push(a);
    TLogCapture log;
    TCertificateChooser chooser(
        dialogs, [&](IDialogs& prmDialogs) { return ReadCertFolder(dir, prmDialogs); });
    TClientCertificate chosen;
    EXPECT_EQ(chooser.ChooseCertificate(chosen), t.Choice);
    EXPECT_EQ(CommonName(chosen), t.ChosenCN);
    EXPECT_EQ(bool(chosen.Key), t.Choice == TCertChoice::Chosen);
    std::vector<size_t> lists;
    std::vector<std::string> messages;
    for (const auto& s : dialogs.Shown()) {
      if (s.Kind == TKind::SelectCertificate) lists.push_back(s.Rows.size());
      if (s.Kind == TKind::MessageBox) messages.push_back(s.Text);
    }
    EXPECT_EQ(lists, t.ListsShown);
    EXPECT_EQ(messages, t.Messages);
    EXPECT_EQ(dialogs.Pending(), 0u);
    for (const std::string& line : t.LogLines) EXPECT_TRUE(log.HasLine(line)) << line;
    EXPECT_FALSE(log.Contains("s3cret"));
  }
}

TEST(CertChoice, RowsNameSubjectAndIssuerInFileOrder) {
  TTestCA ca("Test CA");
  TTestCert a = ca.Issue("a"), b = ca.Issue("b");
  std::string dir = TestRoot() + "/rows";
  ASSERT_TRUE(WriteTestFile(dir + "/2.pem", CertPem(a) + KeyPem(a)));
  ASSERT_TRUE(WriteTestFile(dir + "/1.p12", Pkcs12(b, "")));
  TScriptedDialogs dialogs;
  TDlgSelectCert dlg(ReadCertFolder(dir, dialogs));
  ASSERT_EQ(dlg.RowCount(), 2u);
  EXPECT_EQ(dlg.Selected(), -1);
  EXPECT_EQ(dlg.Rows()[0].Subject, "b");
  EXPECT_EQ(dlg.Rows()[1].Subject, "a");
  EXPECT_EQ(dlg.Rows()[1].Issuer, "Test CA");
  EXPECT_FALSE(dlg.Detach().Cert);  // nothing chosen, nothing handed out
}

TEST(CertChoice, AReleaseDuringTheChoiceCancelsItWithoutAList) {
  TTestCA ca("Test CA");
  TTestCert a = ca.Issue("a"), b = ca.Issue("b");
  std::string dir = TestRoot() + "/released";
  ASSERT_TRUE(WriteTestFile(dir + "/a.pem", CertPem(a) + KeyPem(a)));
  ASSERT_TRUE(WriteTestFile(dir + "/b.pem", CertPem(b) + KeyPem(b)));
  TScriptedDialogs dialogs;
  TCertificateChooser chooser(
      dialogs, [&](IDialogs& prmDialogs) { return ReadCertFolder(dir, prmDialogs); },
      [] { return true; });
  TClientCertificate chosen;
  EXPECT_EQ(chooser.ChooseCertificate(chosen), TCertChoice::Cancelled);
  EXPECT_TRUE(dialogs.Shown().empty());
}

}  // namespace
}  // namespace vantrel::test
