// The CONNECT engine both procedures run: one call's connection to its proxy (resolved once,
// reconnected on demand), the request/reply loop with its reply reader and body drain, the call's
// credentials and the dialog they come from. What a procedure adds is an IProxyProcedure: how it
// reads a reply's offers and how it answers a 407. The caller's thread only; one attempt per call.
#pragma once

#include <string>
#include <string_view>

#include "platform/Dialogs.h"
#include "proxy/ProxyReply.h"
#include "proxy/ProxyTransport.h"

namespace vantrel {

// One call's credentials triple, seeded from the call's arguments.
struct TProxyCredentials {
  std::string User, Password, Domain;
};

class TProxyAttempt;

class IProxyProcedure {
 public:
  virtual ~IProxyProcedure() = default;
  // Reads one reply header and keeps its offers for On407. prmKeepAlive carries over from the
  // call's previous reply.
  virtual TProxyReply Parse(std::string_view prmReply, bool& prmKeepAlive) = 0;
  // A 407: the next request's Proxy-Authorization value (empty: the plain CONNECT again); false
  // ends the call, noted through prmAttempt.
  virtual bool On407(TProxyAttempt& prmAttempt, bool prmKeepAlive, std::string& prmAuth) = 0;
};

// How a failed reconnection is logged: "... (%d)" or "..., error:%d".
enum class TReconnectLine { Code, ErrorColon };

class TProxyAttempt {
 public:
  TProxyAttempt(IDialogs& prmDialogs, TProxyCredentials prmSeed)
      : m_Dialogs(prmDialogs), m_Cred(std::move(prmSeed)) {}
  TProxyAttempt(const TProxyAttempt&) = delete;
  TProxyAttempt& operator=(const TProxyAttempt&) = delete;

  // The tunnelled socket (blocking), or -1 after the attempt's one failure line. prmName leads
  // the line of an unexpected failure. Never raises.
  int Run(const char* prmName, IProxyProcedure& prmProcedure, const std::string& prmProxyHost,
          int prmProxyPort, const std::string& prmDestHost, int prmDestPort);

  // A new connection to the same proxy; false after the failure's log line.
  bool Reconnect(TReconnectLine prmLine);
  // The credentials dialog, its domain edit filled with prmDomain when given: OK takes the three
  // fields; Cancel ends the call.
  bool AskCredentials(bool prmShowDomain, const std::string* prmDomain = nullptr);
  // Ends the call: prmWhy goes on the failure line (never a credential). Always false.
  bool Fail(std::string prmWhy);

  TProxyCredentials& Credentials() { return m_Cred; }
  const std::string& ProxyHost() const { return m_ProxyHost; }
  IDialogs& Dialogs() { return m_Dialogs; }

 private:
  int Exchange(IProxyProcedure& prmProcedure, const std::string& prmDestHost, int prmDestPort);

  IDialogs& m_Dialogs;
  TProxyCredentials m_Cred;
  TProxyLink m_Link;
  std::string m_ProxyHost;
  bool m_KeepAlive = false;  // a reply without Proxy-Connection keeps the previous reply's
};

}  // namespace vantrel
