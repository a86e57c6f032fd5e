#include "tunnel/TunnelRequest.h"

#include "diag/Exceptions.h"

namespace vantrel {

void RequestTunnel(ITunnelChannel& prmChannel, ILinkProtocol& prmProtocol) {
  try {
    if (!prmChannel.Write(prmProtocol.TunnelRequest())) throw EBaseException("send failed");
  } catch (...) {
    throw EBaseException("Failed to send init message");
  }
  if (!prmProtocol.CheckReply(prmChannel))
    throw EBaseException("Gateway did not open control connection");
  prmProtocol.SendInitMsg();
}

}  // namespace vantrel
