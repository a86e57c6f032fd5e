#include "host/vantreltcs/PageDialogs.h"

#include <algorithm>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"

namespace vantrel::host {

namespace {

const struct {
  int Button;
  const char* Name;
} kButtons[] = {{IDOK, "ok"},         {IDCANCEL, "cancel"}, {IDABORT, "abort"}, {IDRETRY, "retry"},
                {IDIGNORE, "ignore"}, {IDYES, "yes"},       {IDNO, "no"}};

// The dialog kind of a credentials prompt: the proxy's own caption names the proxy.
const char* LoginKind(const TLoginPrompt& prmPrompt) {
  return FindText(prmPrompt.Caption, "proxy") != std::string::npos ? "proxycred" : "login";
}

}  // namespace

int ButtonFromName(const std::string& prmName) {
  for (const auto& b : kButtons)
    if (prmName == b.Name) return b.Button;
  return 0;
}

const char* ButtonName(int prmButton) {
  for (const auto& b : kButtons)
    if (prmButton == b.Button) return b.Name;
  return "";
}

TPageDialogs::TPageDialogs(TPageChannel& prmChannel, HWND prmWindow)
    : m_Channel(prmChannel), m_Window(prmWindow) {}

std::optional<TDialogReply> TPageDialogs::Ask(TJson prmDialog) {
  bool onWindow = m_Window != nullptr && m_Window->IsWindowThread();
  auto reply = m_Channel.Ask(std::move(prmDialog), [&](TEvent& prmAnswered) {
    if (onWindow)
      m_Window->WaitHandlingMessages(prmAnswered, -1);
    else
      prmAnswered.Wait(-1);
  });
  if (!reply) WriteDebugLog("TPageDialogs - the page closed without answering a dialog");
  return reply;
}

int TPageDialogs::MessageBox(const std::string& prmText, const std::string& prmCaption,
                             uint32_t prmFlags) {
  std::vector<int> buttons = MessageBoxButtons(prmFlags);
  bool question = (prmFlags & MB_TYPEMASK) == MB_YESNO;
  TJson names = TJson::array();
  for (int b : buttons) names.push_back(ButtonName(b));
  auto reply = Ask({{"dialog", question ? "confirm" : "message"},
                    {"text", prmText},
                    {"caption", prmCaption},
                    {"buttons", names}});
  int chosen = reply ? ButtonFromName(reply->Result) : 0;
  if (std::find(buttons.begin(), buttons.end(), chosen) != buttons.end()) return chosen;
  // A dismissed box, or an answer it has no button for: the safe answer of the box.
  if (question) return IDNO;
  if (std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end()) return IDCANCEL;
  return DefaultMessageBoxResult(prmFlags);
}

int TPageDialogs::AskButtons(const std::string& prmText, const std::string& prmCaption,
                             const std::string& prmFirst, const std::string& prmSecond) {
  auto reply = Ask({{"dialog", "confirm"},
                    {"text", prmText},
                    {"caption", prmCaption},
                    {"buttons", {prmFirst, prmSecond}}});
  int chosen = reply ? ButtonFromName(reply->Result) : 0;
  return chosen == IDYES || chosen == IDNO ? chosen : IDCANCEL;
}

int TPageDialogs::Login(TLoginPrompt& prmPrompt) {
  // The password the control already holds is not sent to the page.
  auto reply = Ask({{"dialog", LoginKind(prmPrompt)},
                    {"caption", prmPrompt.Caption},
                    {"button", prmPrompt.ButtonText},
                    {"user", prmPrompt.User},
                    {"domain", prmPrompt.Domain},
                    {"domain_visible", prmPrompt.DomainVisible}});
  if (!reply || ButtonFromName(reply->Result) != IDOK) return IDCANCEL;
  auto field = [&](const char* prmName, std::string& prmValue) {
    auto it = reply->Fields.find(prmName);
    if (it != reply->Fields.end()) prmValue = it->second;
  };
  field("user", prmPrompt.User);
  field("password", prmPrompt.Password);
  if (prmPrompt.DomainVisible) field("domain", prmPrompt.Domain);
  return IDOK;
}

int TPageDialogs::SelectCertificate(const std::vector<TCertRow>& prmRows) {
  TJson rows = TJson::array();
  for (const TCertRow& r : prmRows) rows.push_back({{"subject", r.Subject}, {"issuer", r.Issuer}});
  auto reply = Ask({{"dialog", "selectcert"}, {"rows", rows}});
  if (!reply || ButtonFromName(reply->Result) != IDOK) return -1;
  // A double-click on a row answers as OK with that row.
  auto it = reply->Fields.find("index");
  if (it == reply->Fields.end() || it->second.empty()) return kCertNotSelected;
  int index = -1;
  if (!TryStrToInt(it->second, index) || index < 0 || static_cast<size_t>(index) >= prmRows.size())
    return -1;
  return index;
}

// {"dialog":"servercert",...}: the page answers "once" or "remember" to go on; any other answer,
// or none, refuses.
TServerCertAnswer TPageDialogs::ConfirmServerCert(const TServerCertInfo& prmInfo) {
  auto reply = Ask({{"dialog", "servercert"},
                    {"host", prmInfo.Host},
                    {"port", prmInfo.Port},
                    {"subject", prmInfo.Subject},
                    {"issuer", prmInfo.Issuer},
                    {"not_before", prmInfo.NotBefore},
                    {"not_after", prmInfo.NotAfter},
                    {"fingerprint", prmInfo.Fingerprint},
                    {"reason", prmInfo.Reason}});
  if (reply && reply->Result == "once") return TServerCertAnswer::AcceptOnce;
  if (reply && reply->Result == "remember") return TServerCertAnswer::AcceptAndRemember;
  return TServerCertAnswer::Refuse;
}

int TPageDialogs::AskSecret(const std::string& prmText, const std::string& prmCaption,
                            std::string& prmSecret) {
  auto reply = Ask({{"dialog", "secret"}, {"text", prmText}, {"caption", prmCaption}});
  if (!reply || ButtonFromName(reply->Result) != IDOK) return IDCANCEL;
  auto it = reply->Fields.find("secret");
  if (it == reply->Fields.end()) return IDCANCEL;
  prmSecret = it->second;
  std::fill(it->second.begin(), it->second.end(), '\0');
  return IDOK;
}

}  // namespace vantrel::host
