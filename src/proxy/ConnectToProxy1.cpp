#include <cerrno>

#include "diag/DebugLog.h"
#include "proxy/DProxyCred.h"
#include "proxy/MIdAuthentication.h"
#include "proxy/ProxyConnect.h"
#include "proxy/ProxyReply.h"
#include "proxy/ProxyTransport.h"
#include "proxy/ProxyUtils.h"

namespace vantrel {

namespace {

struct TCredentials {
  std::string User, Password, Domain;
};

// One call's handshake state; Run answers the tunnelled socket or -1.
class TConnect1 {
 public:
  TConnect1(IDialogs& prmDialogs, const TProxyLibrary& prmLib, TCredentials prmCred,
            TProxyLink& prmLink)
      : m_Dialogs(prmDialogs), m_Lib(prmLib), m_Cred(std::move(prmCred)), m_Link(prmLink) {}

  int Run(const std::string& prmProxyHost, int prmProxyPort, const std::string& prmDestHost,
          int prmDestPort);

 private:
  // The next request's Proxy-Authorization value; false ends the call (the link already closed).
  bool OnBasic(bool prmKeepAlive, std::string& prmAuth);
  bool OnNtlmOffer(const std::string& prmProxyHost, std::string& prmAuth);
  bool OnNtlmChallenge(const std::string& prmChallenge, std::string& prmAuth);
  // The dialog; OK takes and stores the three fields.
  bool AskUser(bool prmShowDomain);
  bool TakeStored();

  IDialogs& m_Dialogs;
  const TProxyLibrary& m_Lib;
  TCredentials m_Cred;
  TProxyLink& m_Link;
  bool m_TryStored = true;
  bool m_FirstNtlm = true;
  bool m_NegotiateSent = false;
};

int TConnect1::Run(const std::string& prmProxyHost, int prmProxyPort,
                   const std::string& prmDestHost, int prmDestPort) {
  if (!m_Link.Open(prmProxyHost, prmProxyPort)) return -1;
  bool keepAlive = false;
  std::string auth;
  for (;;) {
    if (!m_Link.Send(ProxyConnectRequest(prmDestHost, prmDestPort, auth))) return -1;
    TProxyReply1 reply;
    ParseProxyReply1(m_Link.ReadHeader(), reply, keepAlive);
    m_Link.Drain(reply.BodyLength);
    if (reply.Status == 200) return m_Link.Release();
    if (reply.Status != 407) {
      WriteDebugLog("Unknown reply code from proxy (" + std::to_string(reply.Status) + ")");
      return -1;
    }
    bool go = false;
    switch (reply.Kind) {
      case pakBasic:
        go = OnBasic(keepAlive, auth);
        break;
      case pakNTLMChallenge:
        go = m_NegotiateSent ? OnNtlmChallenge(reply.Challenge, auth)
                             : OnNtlmOffer(prmProxyHost, auth);
        break;
      case pakNTLM:
        go = OnNtlmOffer(prmProxyHost, auth);
        break;
      case pakNone:
        WriteDebugLog("ConnectToProxy - no supported authentication scheme offered");
        m_Link.Fail("no supported authentication scheme offered");
        break;
    }
    if (!go) return -1;
  }
}

bool TConnect1::OnBasic(bool prmKeepAlive, std::string& prmAuth) {
  if (!prmKeepAlive && !m_Link.Reconnect()) {
    WriteDebugLog("Authentication failed, failed to connect to proxy (" + std::to_string(errno) +
                  ")");
    return false;
  }
  if (!TakeStored() && !AskUser(false)) return false;
  prmAuth = BasicAuthValue1(m_Cred.User, m_Cred.Password);
  return true;
}

bool TConnect1::OnNtlmOffer(const std::string& prmProxyHost, std::string& prmAuth) {
  if (!m_Link.Reconnect()) {
    WriteDebugLog("Authentication failed, failed to connect to proxy, error:" +
                  std::to_string(errno));
    return false;
  }
  if (m_FirstNtlm) {
    // Empty credentials: the NTLM library answers for the logged-on user.
    m_FirstNtlm = false;
    m_Cred = {};
  } else if (m_TryStored) {
    TakeStored();
  } else if (!AskUser(true)) {
    return false;
  }
  m_NegotiateSent = true;
  const std::string msg =
      m_Lib.NegotiateMsg(prmProxyHost, m_Cred.Domain, m_Cred.User, m_Cred.Password);
  if (msg.empty()) {
    WriteDebugLog("Authentication failed, failed to GetNegotiateMsg: error:");
    m_Link.Fail("no NTLM negotiate message");
    m_Link.Close();
    return false;
  }
  prmAuth = "NTLM " + msg;
  return true;
}

bool TConnect1::OnNtlmChallenge(const std::string& prmChallenge, std::string& prmAuth) {
  m_NegotiateSent = false;
  const std::string msg = m_Lib.AuthMsg(prmChallenge, 2);
  if (g_NtlmCtxActive) m_Lib.FreeContext();
  if (msg.empty()) {
    WriteDebugLog("Authentication failed, failed to GetResponseMsg: error:");
    m_Link.Fail("no NTLM authenticate message");
    m_Link.Close();
    return false;
  }
  prmAuth = "NTLM " + msg;
  return true;
}

bool TConnect1::TakeStored() {
  if (!m_TryStored) return false;
  m_TryStored = false;
  if (!m_Lib.GetUserProxyAuthInfo()) return false;
  m_Cred = {g_ProxyUser, g_ProxyPassword, g_ProxyDomain};
  return true;
}

bool TConnect1::AskUser(bool prmShowDomain) {
  TDlgProxyCred dlg(m_Dialogs, prmShowDomain);
  if (dlg.ShowModal() != IDOK) {
    m_Link.Fail("credentials dialog cancelled");
    m_Link.Close();
    return false;
  }
  m_Cred = {dlg.edUser, dlg.edPass, dlg.edDomain};
  m_Lib.SaveUserProxyAuthInfo(m_Cred.User, m_Cred.Password, m_Cred.Domain);
  return true;
}

}  // namespace

const TProxyLibrary& DefaultProxyLibrary() {
  static const TProxyLibrary lib{GetUserProxyAuthInfoFromDll, SaveProxyUserAuthInfo,
                                 GetNegotiateMsg, GetAuthMsg, FreeNtlmContext};
  return lib;
}

void ConnectToProxy1(const std::string& ProxyHost, int ProxyPort, const std::string& DestHost,
                     int DestPort, const std::string& User, const std::string& Password,
                     const std::string& Domain, int& Sock, IDialogs& prmDialogs,
                     const TProxyLibrary& prmLib) {
  Sock = -1;
  g_NtlmCtxActive = false;
  g_ProxyUser.clear();
  g_ProxyPassword.clear();
  g_ProxyDomain.clear();
  TProxyLink link;
  TConnect1 call(prmDialogs, prmLib, {User, Password, Domain}, link);
  Sock = RunProxyAttempt(link, "ConnectToProxy1",
                         [&] { return call.Run(ProxyHost, ProxyPort, DestHost, DestPort); });
}

}  // namespace vantrel
