#include "diag/DebugLog.h"
#include "proxy/MIdAuthenticationNTLM.h"
#include "proxy/ProxyAttempt.h"
#include "proxy/ProxyConnect.h"

namespace vantrel {

namespace {

// The legacy way through a 407: the scheme object the proxy's first offer created (Basic, or
// NTLM over GSSAPI) decides each step; credentials come from the dialog and are never saved.
class TConnect : public IProxyProcedure {
 public:
  TProxyReply Parse(std::string_view prmReply, bool& prmKeepAlive) override {
    TProxyReply reply;
    ParseProxyReply(prmReply, reply, m_Auth, prmKeepAlive);
    return reply;
  }
  bool On407(TProxyAttempt& prmAttempt, bool prmKeepAlive, std::string& prmAuth) override;

 private:
  TIdSSPINTLMAuthentication* Ntlm() const {
    return dynamic_cast<TIdSSPINTLMAuthentication*>(m_Auth.get());
  }
  // The scheme's value; a failure shows prmFailText and ends the call.
  bool Compute(TProxyAttempt& prmAttempt, const char* prmFailText, std::string& prmAuth);
  // The scheme gave up: the dialog, then the plain CONNECT on a new connection.
  bool OnFail(TProxyAttempt& prmAttempt);

  std::unique_ptr<TMIdAuthentication> m_Auth;
  bool m_FirstPass = true;
  bool m_NtlmReconnect = true;
};

bool TConnect::On407(TProxyAttempt& prmAttempt, bool prmKeepAlive, std::string& prmAuth) {
  if (Ntlm()) {
    if (m_NtlmReconnect) {
      m_NtlmReconnect = false;
      if (!prmAttempt.Reconnect(TReconnectLine::Code)) return false;
    }
  } else if (!prmKeepAlive && !prmAttempt.Reconnect(TReconnectLine::Code)) {
    return false;
  }
  if (m_FirstPass) {
    if (!Ntlm() && !prmAttempt.AskCredentials(false)) return false;
    m_FirstPass = false;
  }
  if (!m_Auth) {
    WriteDebugLog("ConnectToProxy - no supported authentication scheme offered");
    return prmAttempt.Fail("no supported authentication scheme offered");
  }
  const TProxyCredentials& cred = prmAttempt.Credentials();
  switch (m_Auth->Next()) {
    case wnAskTheProgram:
      if (TIdSSPINTLMAuthentication* ntlm = Ntlm()) {
        ntlm->SetDomain(cred.Domain);
        ntlm->SetTarget(prmAttempt.ProxyHost());
      }
      m_Auth->SetUsername(cred.User);
      m_Auth->SetPassword(cred.Password);
      return Compute(prmAttempt, "Unknown Exception AskTheProgram", prmAuth);
    case wnDoRequest:
      return Compute(prmAttempt, "Unknown Exception DoRequest", prmAuth);
    case wnFail:
      prmAuth.clear();
      return OnFail(prmAttempt);
  }
  return false;
}

bool TConnect::Compute(TProxyAttempt& prmAttempt, const char* prmFailText, std::string& prmAuth) {
  try {
    prmAuth = m_Auth->Authentication();
    return true;
  } catch (const EBaseException& e) {
    WriteDebugLog("ConnectToProxy - " + e.GetMsg());
  } catch (...) {
  }
  prmAttempt.Fail("the authentication scheme gave no header");
  prmAttempt.Dialogs().MessageBox(prmFailText, "Error", MB_OK);
  return false;
}

bool TConnect::OnFail(TProxyAttempt& prmAttempt) {
  const std::string domain = prmAttempt.Credentials().Domain;
  const bool open = prmAttempt.AskCredentials(Ntlm() != nullptr, &domain) &&
                    prmAttempt.Reconnect(TReconnectLine::Code);
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
  TConnect procedure;
  TProxyAttempt attempt(prmDialogs, {User, Password, Domain});
  Sock = attempt.Run("ConnectToProxy", procedure, ProxyHost, ProxyPort, DestHost, DestPort);
}

}  // namespace vantrel
