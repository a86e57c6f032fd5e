#include "diag/DebugLog.h"
#include "proxy/MIdAuthentication.h"
#include "proxy/ProxyAttempt.h"
#include "proxy/ProxyConnect.h"
#include "proxy/ProxyUtils.h"

namespace vantrel {

namespace {

// The first protocol's way through a 407: Basic, or NTLM with messages from the NTLM library;
// the last offer of a reply wins. Credentials come from the logged-on user (NTLM, first), the
// saved ones (once), then the dialog, whose answers are saved.
class TConnect1 : public IProxyProcedure {
 public:
  explicit TConnect1(const TProxyLibrary& prmLib) : m_Lib(prmLib) {}

  TProxyReply Parse(std::string_view prmReply, bool& prmKeepAlive) override {
    ParseProxyReply1(prmReply, m_Reply, prmKeepAlive);
    return m_Reply;
  }
  bool On407(TProxyAttempt& prmAttempt, bool prmKeepAlive, std::string& prmAuth) override;

 private:
  bool OnBasic(TProxyAttempt& prmAttempt, bool prmKeepAlive, std::string& prmAuth);
  bool OnNtlmOffer(TProxyAttempt& prmAttempt, std::string& prmAuth);
  bool OnNtlmChallenge(TProxyAttempt& prmAttempt, std::string& prmAuth);
  // The dialog; OK's fields are saved through the proxy support library.
  bool AskUser(TProxyAttempt& prmAttempt, bool prmShowDomain);
  // The saved credentials, asked for once per call.
  bool TakeStored(TProxyAttempt& prmAttempt);

  const TProxyLibrary& m_Lib;
  TProxyReply1 m_Reply;
  bool m_TryStored = true;
  bool m_FirstNtlm = true;
  bool m_NegotiateSent = false;
};

bool TConnect1::On407(TProxyAttempt& prmAttempt, bool prmKeepAlive, std::string& prmAuth) {
  switch (m_Reply.Kind) {
    case pakBasic:
      return OnBasic(prmAttempt, prmKeepAlive, prmAuth);
    case pakNTLMChallenge:
      return m_NegotiateSent ? OnNtlmChallenge(prmAttempt, prmAuth)
                             : OnNtlmOffer(prmAttempt, prmAuth);
    case pakNTLM:
      return OnNtlmOffer(prmAttempt, prmAuth);
    case pakNone:
      break;
  }
  WriteDebugLog("ConnectToProxy - no supported authentication scheme offered");
  return prmAttempt.Fail("no supported authentication scheme offered");
}

bool TConnect1::OnBasic(TProxyAttempt& prmAttempt, bool prmKeepAlive, std::string& prmAuth) {
  if (!prmKeepAlive && !prmAttempt.Reconnect(TReconnectLine::Code)) return false;
  if (!TakeStored(prmAttempt) && !AskUser(prmAttempt, false)) return false;
  const TProxyCredentials& cred = prmAttempt.Credentials();
  prmAuth = BasicAuthValue1(cred.User, cred.Password);
  return true;
}

bool TConnect1::OnNtlmOffer(TProxyAttempt& prmAttempt, std::string& prmAuth) {
  if (!prmAttempt.Reconnect(TReconnectLine::ErrorColon)) return false;
  TProxyCredentials& cred = prmAttempt.Credentials();
  if (m_FirstNtlm) {
    // Empty credentials: the NTLM library answers for the logged-on user.
    m_FirstNtlm = false;
    cred = {};
  } else if (m_TryStored) {
    TakeStored(prmAttempt);
  } else if (!AskUser(prmAttempt, true)) {
    return false;
  }
  m_NegotiateSent = true;
  const std::string msg =
      m_Lib.NegotiateMsg(prmAttempt.ProxyHost(), cred.Domain, cred.User, cred.Password);
  if (msg.empty()) {
    WriteDebugLog("Authentication failed, failed to GetNegotiateMsg: error:");
    return prmAttempt.Fail("no NTLM negotiate message");
  }
  prmAuth = "NTLM " + msg;
  return true;
}

bool TConnect1::OnNtlmChallenge(TProxyAttempt& prmAttempt, std::string& prmAuth) {
  m_NegotiateSent = false;
  const std::string msg = m_Lib.AuthMsg(m_Reply.Challenge, 2);
  if (g_NtlmCtxActive) m_Lib.FreeContext();
  if (msg.empty()) {
    WriteDebugLog("Authentication failed, failed to GetResponseMsg: error:");
    return prmAttempt.Fail("no NTLM authenticate message");
  }
  prmAuth = "NTLM " + msg;
  return true;
}

bool TConnect1::TakeStored(TProxyAttempt& prmAttempt) {
  if (!m_TryStored) return false;
  m_TryStored = false;
  if (!m_Lib.GetUserProxyAuthInfo()) return false;
  prmAttempt.Credentials() = {g_ProxyUser, g_ProxyPassword, g_ProxyDomain};
  return true;
}

bool TConnect1::AskUser(TProxyAttempt& prmAttempt, bool prmShowDomain) {
  if (!prmAttempt.AskCredentials(prmShowDomain)) return false;
  const TProxyCredentials& cred = prmAttempt.Credentials();
  m_Lib.SaveUserProxyAuthInfo(cred.User, cred.Password, cred.Domain);
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
  TConnect1 procedure(prmLib);
  TProxyAttempt attempt(prmDialogs, {User, Password, Domain});
  Sock = attempt.Run("ConnectToProxy1", procedure, ProxyHost, ProxyPort, DestHost, DestPort);
}

}  // namespace vantrel
