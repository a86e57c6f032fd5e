// What listeners and forwarded connections may ask of their tunnel manager. Each protocol's
// manager implements it; listeners and connections never see the manager's class.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "diag/UniqueFd.h"
#include "platform/Event.h"
#include "platform/Window.h"
#include "tunnel/DataBatch.h"
#include "tunnel/TunnelWire.h"

namespace vantrel {

class CConn;

class IConnHost {
 public:
  virtual ~IConnHost() = default;

  // Asks the gateway to open the far end; false when the request could not be sent.
  virtual bool SendOpenConn(int prmID, const std::string& prmDestIP, int prmDestPort) = 0;
  // prmBuf.Data holds prmLen (1..kMaxPayload) application bytes; the header is filled here.
  virtual bool SendData(int prmID, const std::string& prmDestIP, int prmDestPort, TDataBuf& prmBuf,
                        int prmLen) = 0;
  // prmLen application bytes read into prmBatch's slots: their messages go out in one call, so
  // they share TLS records and one write.
  virtual bool SendDataBatch(int prmID, const std::string& prmDestIP, int prmDestPort,
                             TDataBatch& prmBatch, size_t prmLen) = 0;
  // Size of the protocol's message header, for the relay's batch.
  virtual int HeaderSize() const = 0;
  // The relay of prmConn has ended: the gateway is told as the protocol wants, and with
  // prmFreeConn the connection is unregistered and destroyed (possibly before this returns).
  virtual void CloseConn(CConn& prmConn, bool prmSignalSP, bool prmFreeConn) = 0;
  virtual void IncConnCount() = 0;
  // Registers and starts the connection; its identifier, or -1 when every identifier is in use.
  virtual int CreateConn(std::shared_ptr<CConn> prmConn) = 0;
  // The protocol's kind of forwarded connection for an accepted application socket.
  virtual std::shared_ptr<CConn> NewConn(TUniqueFd prmCSock, const std::string& prmDestIP,
                                         int prmDestPort, HWND prmNotifyDest,
                                         uint32_t prmNotifyMsg) = 0;
  // How many connections a listener with a security-RDP identifier may accept.
  virtual int AllowedAccepts(bool prmSSO, bool prmSSP) const = 0;
  // Signalled when the manager goes away: every wait of a connection ends on it.
  virtual const TEvent& StopEvent() const = 0;
};

}  // namespace vantrel
