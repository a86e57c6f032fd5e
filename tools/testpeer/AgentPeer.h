// The reference server agent of an application server: "/agent/info" on plain HTTP, answering
// with the server's type, without "ServerInfo", with a body that is not XML, or never. Gateways
// in tests map an application server's port 9091 to it.
#pragma once

#include <cstdint>
#include <string>

#include "testpeer/AvailabilityServer.h"

namespace vantrel::testpeer {

enum class TAgentAnswer { Type1, Type2, NoServerInfo, NotXml, Nothing };

class TServerAgentPeer {
 public:
  explicit TServerAgentPeer(TAgentAnswer prmAnswer);
  // Listens on 127.0.0.1 (any free port); returns the port.
  uint16_t Start() { return m_Server.Start(); }
  // Ends every connection, silent ones included, and joins the threads.
  void Stop() { m_Server.Stop(); }
  std::string HostPort() const { return m_Server.HostPort(); }
  size_t Requests() const { return m_Server.Requests("/agent/info").size(); }

 private:
  TAvailabilityServer m_Server;
};

}  // namespace vantrel::testpeer
