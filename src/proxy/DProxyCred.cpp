#include "proxy/DProxyCred.h"

namespace vantrel {

TDlgProxyCred::TDlgProxyCred(IDialogs& prmOwner, bool prmShowDomain)
    : m_Owner(prmOwner), m_ShowDomain(prmShowDomain) {}

int TDlgProxyCred::PanelTop() const {
  return m_ShowDomain ? kPanelTop : kPasswordEditTop + kEditHeight + 1;
}

int TDlgProxyCred::ShowModal() {
  TLoginPrompt prompt;
  prompt.Caption = "Proxy Credentials";
  prompt.ButtonText = "OK";
  prompt.User = edUser;
  prompt.Password = edPass;
  prompt.Domain = edDomain;
  prompt.DomainVisible = m_ShowDomain;
  if (m_Owner.Login(prompt) != IDOK) return IDCANCEL;
  edUser = prompt.User;
  edPass = prompt.Password;
  edDomain = prompt.Domain;
  return IDOK;
}

}  // namespace vantrel
