#include "proxy/ProxyAttempt.h"

#include <cerrno>

#include "diag/DebugLog.h"
#include "proxy/DProxyCred.h"

namespace vantrel {

int TProxyAttempt::Run(const char* prmName, IProxyProcedure& prmProcedure,
                       const std::string& prmProxyHost, int prmProxyPort,
                       const std::string& prmDestHost, int prmDestPort) {
  m_ProxyHost = prmProxyHost;
  int sock = -1;
  try {
    if (m_Link.Open(prmProxyHost, prmProxyPort))
      sock = Exchange(prmProcedure, prmDestHost, prmDestPort);
  } catch (...) {
    WriteDebugLog(std::string(prmName) + " - unexpected failure");
    m_Link.Fail("unexpected failure");
  }
  if (sock >= 0) return sock;
  m_Link.Close();
  m_Link.LogFailure();
  return -1;
}

int TProxyAttempt::Exchange(IProxyProcedure& prmProcedure, const std::string& prmDestHost,
                            int prmDestPort) {
  std::string auth;
  for (;;) {
    if (!m_Link.Send(ProxyConnectRequest(prmDestHost, prmDestPort, auth))) return -1;
    const TProxyReply reply = prmProcedure.Parse(m_Link.ReadHeader(), m_KeepAlive);
    m_Link.Drain(reply.BodyLength);
    if (reply.Status == 200) return m_Link.Release();
    if (reply.Status != 407) {
      WriteDebugLog("Unknown reply code from proxy (" + std::to_string(reply.Status) + ")");
      return -1;
    }
    if (!prmProcedure.On407(*this, m_KeepAlive, auth)) return -1;
  }
}

bool TProxyAttempt::Reconnect(TReconnectLine prmLine) {
  if (m_Link.Reconnect()) return true;
  WriteDebugLog(
      prmLine == TReconnectLine::Code
          ? "Authentication failed, failed to connect to proxy (" + std::to_string(errno) + ")"
          : "Authentication failed, failed to connect to proxy, error:" + std::to_string(errno));
  return false;
}

bool TProxyAttempt::AskCredentials(bool prmShowDomain, const std::string* prmDomain) {
  TDlgProxyCred dlg(m_Dialogs, prmShowDomain);
  if (prmDomain) dlg.edDomain = *prmDomain;
  if (dlg.ShowModal() != IDOK) return Fail("credentials dialog cancelled");
  m_Cred = {dlg.edUser, dlg.edPass, dlg.edDomain};
  return true;
}

bool TProxyAttempt::Fail(std::string prmWhy) {
  m_Link.Fail(std::move(prmWhy));
  return false;
}

}  // namespace vantrel
