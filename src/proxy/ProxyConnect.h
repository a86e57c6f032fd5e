// The two CONNECT procedures: each opens a connection to the proxy, turns it into a tunnel to
// DestHost:DestPort with an HTTP CONNECT, authenticating on the way, and hands back the socket
// (blocking) or -1. They run on the caller's thread, may show the proxy credentials dialog through
// prmDialogs, and never raise. Calls must not overlap: they share the saved credentials and the
// NTLM context of ProxyUtils.
#pragma once

#include <functional>
#include <string>

#include "platform/Dialogs.h"

namespace vantrel {

// What ConnectToProxy1 asks of the companion libraries. The default entries are the run-time
// bindings of ProxyUtils; tests may put others in their place.
struct TProxyLibrary {
  std::function<bool()> GetUserProxyAuthInfo;
  std::function<bool(const std::string&, const std::string&, const std::string&)>
      SaveUserProxyAuthInfo;
  std::function<std::string(const std::string&, const std::string&, const std::string&,
                            const std::string&)>
      NegotiateMsg;
  std::function<std::string(const std::string&, int)> AuthMsg;
  std::function<bool()> FreeContext;
};

const TProxyLibrary& DefaultProxyLibrary();

// The first protocol's procedure: Basic and NTLM (messages built by the NTLM library).
void ConnectToProxy1(const std::string& ProxyHost, int ProxyPort, const std::string& DestHost,
                     int DestPort, const std::string& User, const std::string& Password,
                     const std::string& Domain, int& Sock, IDialogs& prmDialogs,
                     const TProxyLibrary& prmLib = DefaultProxyLibrary());

// The legacy procedure: Basic and NTLM through the scheme objects.
void ConnectToProxy(const std::string& ProxyHost, int ProxyPort, const std::string& DestHost,
                    int DestPort, const std::string& User, const std::string& Password,
                    const std::string& Domain, int& Sock, IDialogs& prmDialogs);

}  // namespace vantrel
