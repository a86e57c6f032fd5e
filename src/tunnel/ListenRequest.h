// Everything a local listener needs, by name: the connection operations of the tunnel manager
// each fill one, so their long positional lists end at the public contract.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Window.h"
#include "tunnel/TCSProtocolBase.h"

namespace vantrel {

struct TListenRequest {
  // The destination behind the gateway, as dotted text.
  std::string DestIP{};
  int DestPort = 0;
  // The loopback port to listen on; 0: any free port.
  int SrcPort = 0;
  // Window and message each forwarded connection of the listener sends when it is destroyed
  // (message 0: none).
  HWND NotifyDest = nullptr;
  uint32_t NotifyMsg = 0;
  // The caller's identifier for the listener; no effect.
  int ID = 0;
  // Marks the listener; no further effect.
  bool CloseAfterEmpty = false;
  // Installed on every connection the listener accepts.
  TConnSendCallback SendCallback{};
  // With a security-RDP identifier above 0, the single-sign-on and CredSSP switches limit how
  // many connections the listener accepts (the protocol decides how many).
  int SecurityRDPID = 0;
  bool SSO = false;
  bool SSP = false;
};

}  // namespace vantrel
