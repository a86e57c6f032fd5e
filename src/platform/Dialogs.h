// Message boxes and modal dialogs behind one interface: the host chooses the implementation
// (window, terminal or page; tests script theirs) and hands it to whoever must ask the user
// something.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

// Results, with the platform's values.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Buttons, icons and default button, with the platform's values; combine with |.
constexpr uint32_t MB_OK = 0x0;
constexpr uint32_t MB_OKCANCEL = 0x1;
constexpr uint32_t MB_ABORTRETRYIGNORE = 0x2;
constexpr uint32_t MB_YESNOCANCEL = 0x3;
constexpr uint32_t MB_YESNO = 0x4;
constexpr uint32_t MB_RETRYCANCEL = 0x5;
constexpr uint32_t MB_TYPEMASK = 0xF;
constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONQUESTION = 0x20;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr uint32_t MB_ICONINFORMATION = 0x40;
constexpr uint32_t MB_ICONMASK = 0xF0;
constexpr uint32_t MB_DEFBUTTON1 = 0x0;
constexpr uint32_t MB_DEFBUTTON2 = 0x100;
constexpr uint32_t MB_DEFBUTTON3 = 0x200;
constexpr uint32_t MB_DEFMASK = 0xF00;
constexpr uint32_t MB_SYSTEMMODAL = 0x1000;
constexpr uint32_t MB_TASKMODAL = 0x2000;
constexpr uint32_t MB_SETFOREGROUND = 0x10000;
constexpr uint32_t MB_TOPMOST = 0x40000;

// The buttons a message box of these flags shows, in order (IDOK, IDCANCEL, ...).
std::vector<int> MessageBoxButtons(uint32_t prmFlags);
// What pressing Enter gives: the default button of the flags (the first when out of range).
int DefaultMessageBoxResult(uint32_t prmFlags);

// The login and credentials dialogs: initial texts in, entered texts out (on IDOK). The defaults
// are the login dialog's own; callers change caption, button text and the domain row.
struct TLoginPrompt {
  std::string Caption = "Login...";
  std::string ButtonText = "Login";
  std::string User;
  std::string Password;
  std::string Domain;
  bool DomainVisible = true;
};

// SelectCertificate's answer when OK was pressed with no row selected; the caller warns and
// shows the list again.
constexpr int kCertNotSelected = -2;

// One row of the certificate choice.
struct TCertRow {
  std::string Subject;
  std::string Issuer;
};

// A gateway certificate that could not be verified, as the user is shown it. Texts are printable:
// control characters in names arrive escaped.
struct TServerCertInfo {
  std::string Host;
  int Port = 0;
  std::string Subject;
  std::string Issuer;
  std::string NotBefore;  // validity, as OpenSSL prints it ("Jan  1 00:00:00 2030 GMT")
  std::string NotAfter;
  std::string Fingerprint;  // SHA-256 of the public key, hex pairs joined by ':'
  std::string Reason;       // why verification failed
};

enum class TServerCertAnswer { Refuse, AcceptOnce, AcceptAndRemember };

// The dialogs every implementation answers, declared once for the interface and its
// implementers (VANTREL_IDIALOGS_OVERRIDES), so a signature changes in one place:
// - MessageBox: modal message box; returns the result of the button pressed.
// - AskButtons: information dialog with two buttons captioned prmFirst and prmSecond: IDYES for
//   the first, IDNO for the second, IDCANCEL when it was closed otherwise.
// - Login: login/credentials dialog: IDOK with the entered texts in prmPrompt, or IDCANCEL
//   (prmPrompt unchanged).
// - SelectCertificate: certificate list: the chosen row's index (OK, or a double-click on the
//   row), -1 when cancelled, kCertNotSelected for OK without a selection.
// - ConfirmServerCert: the gateway's certificate could not be verified: go on this once, go on
//   and remember its key for this gateway, or refuse (also when the dialog is closed).
// - AskSecret: one hidden entry (a passphrase or a PIN): IDOK with the text in prmSecret, or
//   IDCANCEL (prmSecret unchanged). The caller wipes the text after use; nothing keeps or logs it.
#define VANTREL_IDIALOGS_MEMBERS(PREFIX, SUFFIX)                                           \
  PREFIX int MessageBox(const std::string& prmText, const std::string& prmCaption,         \
                        uint32_t prmFlags) SUFFIX;                                         \
  PREFIX int AskButtons(const std::string& prmText, const std::string& prmCaption,         \
                        const std::string& prmFirst, const std::string& prmSecond) SUFFIX; \
  PREFIX int Login(TLoginPrompt& prmPrompt) SUFFIX;                                        \
  PREFIX int SelectCertificate(const std::vector<TCertRow>& prmRows) SUFFIX;               \
  PREFIX TServerCertAnswer ConfirmServerCert(const TServerCertInfo& prmInfo) SUFFIX;       \
  PREFIX int AskSecret(const std::string& prmText, const std::string& prmCaption,          \
                       std::string& prmSecret) SUFFIX

// In an implementer's class body: the overrides of every dialog.
#define VANTREL_IDIALOGS_OVERRIDES VANTREL_IDIALOGS_MEMBERS(, override)

class IDialogs {
 public:
  virtual ~IDialogs() = default;

  VANTREL_IDIALOGS_MEMBERS(virtual, = 0);

  // Yes/No question with the question icon; true for Yes.
  bool Confirm(const std::string& prmText, const std::string& prmCaption) {
    return MessageBox(prmText, prmCaption, MB_YESNO | MB_ICONQUESTION) == IDYES;
  }
};

// For hosts without a user: every dialog goes to the debug log and gets the answer Enter or
// Escape would give. Message boxes answer their default button, the two-button question its
// first button; login, certificate choice and secrets are cancelled, since nobody can type them;
// an unverified gateway certificate is refused, since nobody can judge it.
class TLoggingDialogs : public IDialogs {
 public:
  VANTREL_IDIALOGS_OVERRIDES;
};

}  // namespace vantrel
