// What a tunnel protocol supplies to the link and the multiplexer it runs over: its part in the
// set-up (ILinkProtocol), its header layout and reactions to the gateway's messages
// (IControlDispatch), and how its forwarded connections open and close (IMuxProtocol).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "diag/UniqueFd.h"
#include "platform/Window.h"
#include "tunnel/MessageParser.h"
#include "tunnel/TunnelRequest.h"
#include "tunnel/TunnelWire.h"

namespace vantrel {

class CConn;

class IMuxProtocol {
 public:
  virtual ~IMuxProtocol() = default;
  virtual int HeaderSize() const = 0;
  // Writes HeaderSize() bytes.
  virtual void EncodeHdr(const TLegacyAppHeader& prmHdr, uint8_t* prmOut) const = 0;
  // Asks the gateway to open the far end; false when the request could not be sent.
  virtual bool SendOpenConn(int prmID, const std::string& prmDestIP, int prmDestPort) = 0;
  // The protocol's kind of forwarded connection for an accepted application socket.
  virtual std::shared_ptr<CConn> NewConn(TUniqueFd prmCSock, const std::string& prmDestIP,
                                         int prmDestPort, HWND prmNotifyDest,
                                         uint32_t prmNotifyMsg) = 0;
  // How many connections a listener with a security-RDP identifier may accept.
  virtual int AllowedAccepts(bool prmSSO, bool prmSSP) const = 0;
  // Whether the end of a relay is told to the gateway.
  virtual bool SignalsClose(bool prmSignalSP) const = 0;
  // After a connection's end was handled.
  virtual void OnConnClosed() = 0;
};

// ILinkProtocol's loss and idle parts live here too, so one object answers for the protocol.
class ITunnelProtocol : public ILinkProtocol, public IControlDispatch, public IMuxProtocol {
 public:
  // Once per second without gateway traffic; may send a keepalive and reset the count.
  virtual void OnIdleSecond(int& prmIdleCount) = 0;
  // After the common loss handling (ready reset, requests released): tell whoever listens.
  virtual void NotifyLost() = 0;
};

}  // namespace vantrel
