#include <cerrno>

#include "diag/DebugLog.h"
#include "proxy/DProxyCred.h"
#include "proxy/MIdAuthenticationNTLM.h"
#include "proxy/ProxyConnect.h"
#include "proxy/ProxyReply.h"
#include "proxy/ProxyTransport.h"

namespace vantrel {

namespace {

// One call's handshake state; Run answers the tunnelled socket or -1.
class TConnect {
 public:
  TConnect(IDialogs& prmDialogs, std::string prmUser, std::string prmPassword,
           std::string prmDomain, TProxyLink& prmLink)
      : m_Dialogs(prmDialogs),
        m_User(std::move(prmUser)),
        m_Password(std::move(prmPassword)),
        m_Domain(std::move(prmDomain)),
        m_Link(prmLink) {}

  int Run(const std::string& prmProxyHost, int prmProxyPort, const std::string& prmDestHost,
          int prmDestPort);

 private:
  // A 407: the next request's Proxy-Authorization value (empty: the plain CONNECT again); false
  // ends the call.
  bool On407(bool prmKeepAlive, std::string& prmAuth);
  bool ReconnectOrLog();
  bool IsNtlm() const { return dynamic_cast<TIdSSPINTLMAuthentication*>(m_Auth.get()) != nullptr; }
  // The scheme's value; a failure shows prmFailText and closes the link.
  bool Compute(const char* prmFailText, std::string& prmAuth);
  bool OnFail();
  // The dialog of a pass; false (noted on the link) when the user cancelled.
  bool Ask(TDlgProxyCred& prmDlg);

  IDialogs& m_Dialogs;
  std::string m_User, m_Password, m_Domain;
  std::string m_ProxyHost;
  TProxyLink& m_Link;
  std::unique_ptr<TMIdAuthentication> m_Auth;
  bool m_FirstPass = true;
  bool m_NtlmReconnect = true;
};

int TConnect::Run(const std::string& prmProxyHost, int prmProxyPort, const std::string& prmDestHost,
                  int prmDestPort) {
  m_ProxyHost = prmProxyHost;
  if (!m_Link.Open(prmProxyHost, prmProxyPort)) return -1;
  bool keepAlive = false;
  std::string auth;
  for (;;) {
    if (!m_Link.Send(ProxyConnectRequest(prmDestHost, prmDestPort, auth))) return -1;
    TProxyReply reply;
    ParseProxyReply(m_Link.ReadHeader(), reply, m_Auth, keepAlive);
    m_Link.Drain(reply.BodyLength);
    if (reply.Status == 200) return m_Link.Release();
    if (reply.Status != 407) {
      WriteDebugLog("Unknown reply code from proxy (" + std::to_string(reply.Status) + ")");
      return -1;
    }
    if (!On407(keepAlive, auth)) return -1;
  }
}

bool TConnect::ReconnectOrLog() {
  if (m_Link.Reconnect()) return true;
  WriteDebugLog("Authentication failed, failed to connect to proxy (" + std::to_string(errno) +
                ")");
  return false;
}

bool TConnect::On407(bool prmKeepAlive, std::string& prmAuth) {
  if (IsNtlm()) {
    if (m_NtlmReconnect) {
      m_NtlmReconnect = false;
      if (!ReconnectOrLog()) return false;
    }
  } else if (!prmKeepAlive && !ReconnectOrLog()) {
    return false;
  }
  if (m_FirstPass) {
    if (!IsNtlm()) {
      TDlgProxyCred dlg(m_Dialogs, false);
      if (!Ask(dlg)) return false;
      m_User = dlg.edUser;
      m_Password = dlg.edPass;
      m_Domain = dlg.edDomain;
    }
    m_FirstPass = false;
  }
  if (!m_Auth) {
    WriteDebugLog("ConnectToProxy - no supported authentication scheme offered");
    m_Link.Fail("no supported authentication scheme offered");
    return false;
  }
  switch (m_Auth->Next()) {
    case wnAskTheProgram:
      if (auto* ntlm = dynamic_cast<TIdSSPINTLMAuthentication*>(m_Auth.get())) {
        ntlm->SetDomain(m_Domain);
        ntlm->SetTarget(m_ProxyHost);
      }
      m_Auth->SetUsername(m_User);
      m_Auth->SetPassword(m_Password);
      return Compute("Unknown Exception AskTheProgram", prmAuth);
    case wnDoRequest:
      return Compute("Unknown Exception DoRequest", prmAuth);
    case wnFail:
      prmAuth.clear();
      return OnFail();
  }
  return false;
}

bool TConnect::Compute(const char* prmFailText, std::string& prmAuth) {
  try {
    prmAuth = m_Auth->Authentication();
    return true;
  } catch (const EBaseException& e) {
    WriteDebugLog("ConnectToProxy - " + e.GetMsg());
  } catch (...) {
  }
  m_Link.Fail("the authentication scheme gave no header");
  m_Dialogs.MessageBox(prmFailText, "Error", MB_OK);
  return false;
}

bool TConnect::Ask(TDlgProxyCred& prmDlg) {
  if (prmDlg.ShowModal() == IDOK) return true;
  m_Link.Fail("credentials dialog cancelled");
  return false;
}

bool TConnect::OnFail() {
  TDlgProxyCred dlg(m_Dialogs, IsNtlm());
  dlg.edDomain = m_Domain;
  bool open = false;
  if (Ask(dlg)) {
    m_User = dlg.edUser;
    m_Password = dlg.edPass;
    m_Domain = dlg.edDomain;
    open = ReconnectOrLog();
  }
  // The proxy offers its schemes again to the plain CONNECT; a new scheme object answers them.
  m_Auth.reset();
  m_NtlmReconnect = true;
  return open;
}

}  // namespace

void ConnectToProxy(const std::string& ProxyHost, int ProxyPort, const std::string& DestHost,
                    int DestPort, const std::string& User, const std::string& Password,
                    const std::string& Domain, int& Sock, IDialogs& prmDialogs) {
  Sock = -1;
  TProxyLink link;
  TConnect call(prmDialogs, User, Password, Domain, link);
  Sock = RunProxyAttempt(link, "ConnectToProxy",
                         [&] { return call.Run(ProxyHost, ProxyPort, DestHost, DestPort); });
}

}  // namespace vantrel
