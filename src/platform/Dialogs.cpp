#include "platform/Dialogs.h"

#include "diag/DebugLog.h"

namespace vantrel {

std::vector<int> MessageBoxButtons(uint32_t prmFlags) {
  switch (prmFlags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
      return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
      return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
      return {IDYES, IDNO};
    case MB_RETRYCANCEL:
      return {IDRETRY, IDCANCEL};
    default:
      return {IDOK};
  }
}

int DefaultMessageBoxResult(uint32_t prmFlags) {
  std::vector<int> buttons = MessageBoxButtons(prmFlags);
  size_t def = (prmFlags & MB_DEFMASK) >> 8;
  return def < buttons.size() ? buttons[def] : buttons.front();
}

int TLoggingDialogs::MessageBox(const std::string& prmText, const std::string& prmCaption,
                                uint32_t prmFlags) {
  WriteDebugLog("MessageBox - " + prmCaption + " - " + prmText);
  return DefaultMessageBoxResult(prmFlags);
}

int TLoggingDialogs::AskButtons(const std::string& prmText, const std::string& prmCaption,
                                const std::string& prmFirst, const std::string& prmSecond) {
  WriteDebugLog("AskButtons - " + prmCaption + " - " + prmText + " [" + prmFirst + "/" + prmSecond +
                "]");
  return IDYES;
}

int TLoggingDialogs::Login(TLoginPrompt& prmPrompt) {
  // Only the caption: the initial texts may hold a user's password.
  WriteDebugLog("Login - " + prmPrompt.Caption + " - cancelled, no user to ask");
  return IDCANCEL;
}

int TLoggingDialogs::SelectCertificate(const std::vector<TCertRow>& prmRows) {
  WriteDebugLog("SelectCertificate - " + std::to_string(prmRows.size()) +
                " certificates - cancelled, no user to ask");
  return -1;
}

TServerCertAnswer TLoggingDialogs::ConfirmServerCert(const TServerCertInfo& prmInfo) {
  WriteDebugLog("ConfirmServerCert - " + prmInfo.Host + " " + prmInfo.Fingerprint +
                " - refused, no user to ask");
  return TServerCertAnswer::Refuse;
}

int TLoggingDialogs::AskSecret(const std::string&, const std::string& prmCaption, std::string&) {
  WriteDebugLog("AskSecret - " + prmCaption + " - cancelled, no user to ask");
  return IDCANCEL;
}

}  // namespace vantrel
