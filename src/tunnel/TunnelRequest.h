// The last set-up stage of a link: the HTTP request that turns the TLS connection into a tunnel,
// the gateway's reply and the protocol's first message. It sees only the channel beneath it, so
// it runs as well against a fake channel as against the TLS one.
#pragma once

#include <string>

namespace vantrel {

class ITunnelChannel {
 public:
  virtual ~ITunnelChannel() = default;
  // Sends prmBytes whole; false (or an exception) when that failed.
  virtual bool Write(const std::string& prmBytes) = 0;
  // Waits until the reply begins, then reads one TLS record (prmOneRecord) or whatever has
  // arrived, up to prmLen bytes; prmGot receives the count. Raises "Failed to establish control
  // connection" when nothing came in time; false when reading failed.
  virtual bool ReadReply(char* prmBuf, int prmLen, bool prmOneRecord, int& prmGot) = 0;
};

// A protocol's part in setting the link up.
class ILinkProtocol {
 public:
  virtual ~ILinkProtocol() = default;
  // The TLS channel's device type (1: TLS 1.0 only; 2: TLS 1.0 and 1.2).
  virtual int DeviceType() const = 0;
  virtual std::string TunnelRequest() const = 0;
  // Reads the gateway's reply from prmChannel; true when it opens the tunnel.
  virtual bool CheckReply(ITunnelChannel& prmChannel) = 0;
  // The protocol's first message on the open tunnel; its failure is not reported.
  virtual void SendInitMsg() = 0;
};

// Sends the request, checks the reply and sends the init message. Raises "Failed to send init
// message", "Gateway did not open control connection" and the channel's reply timeout.
void RequestTunnel(ITunnelChannel& prmChannel, ILinkProtocol& prmProtocol);

}  // namespace vantrel
