// What the reference gateway does: expected request, replies, address and host tables, answers,
// and the misbehaviours fault tests ask for. Built in code or read from JSON (keys listed by
// ScenarioHelp, which the program prints for --help).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "testpeer/PeerWire.h"

namespace vantrel::testpeer {

// One step of the script the peer plays once the tunnel is up.
struct TScriptStep {
  int DelayMs = 0;     // pause before this step
  TBytes Bytes;        // sent as one TLS record when not empty
  bool Close = false;  // then close the control connection
};

// How the peer answers an open request it cannot serve.
enum class TRefuseMode { Close, ReadyClose, Silent };

struct TGatewayScenario {
  TProtocol Protocol = TProtocol::First;
  std::string ListenAddress = "127.0.0.1";  // must be a loopback address
  uint16_t Port = 0;                        // 0: any free port
  std::string CertFile, KeyFile;            // empty: a self-signed certificate made at start
  bool RequireClientCert = false;
  std::string ClientCAFile;  // with RequireClientCert: the issuer a client certificate must have
  std::string TlsMaxVersion = "1.2";  // "1.0", "1.1" or "1.2"; the minimum is always 1.0

  // Request check: empty expectations accept any value.
  std::string ExpectedHost, ExpectedCookie, ExpectedClientId;
  std::string HttpReply;  // empty: the protocol's success reply
  std::string ForbiddenReply = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
  int HttpReplyDelayMs = 0;  // -1: never answer the request
  int HandshakeTimeoutMs = 30000;

  // Tunnel-up code sent after the client's init message (0: never) and its delay.
  int TunnelUpCode = 1;
  int TunnelUpDelayMs = 0;

  // Destination "a.b.c.d:port" or "a.b.c.d" -> local "127.x.y.z:port" or "127.x.y.z".
  std::map<std::string, std::string> Mapping;
  TRefuseMode RefuseMode = TRefuseMode::Close;
  int OpenReplyDelayMs = 0;

  std::string UserName, Password;            // sent byte for byte
  std::map<std::string, std::string> Hosts;  // host name -> dotted address
  uint32_t UnknownHostAddress = 0;           // as a number, a.b.c.d = a<<24|...
  uint32_t IdleTime = 0, LifeTime = 0;
  std::set<uint32_t> SilentCodes;  // client requests (9, 18, 19, 20, 23) never answered

  int ProbeIntervalMs = 0;      // 0: no probes
  int CloseAfterMs = -1;        // close the control connection this long after tunnel-up
  int StopReadingAfterMs = -1;  // read nothing more from the client this long after tunnel-up
  size_t SplitHeaderAt = 0;     // >0: every header the peer sends is split in two records here
  size_t DataPieceSize = kMaxDataPiece;
  size_t RecordDataLimit = 4u << 20;  // data payload bytes kept in the message record
  std::vector<TScriptStep> AfterUp;

  // The protocol's request template and success reply.
  std::string RequestTemplate() const;
  std::string EffectiveHttpReply() const;
  bool IsSilent(uint32_t prmCode) const { return SilentCodes.count(prmCode) != 0; }
};

// Raises EBaseException naming the offending key or value; unknown keys are errors so that a
// misspelt setting does not silently fall back to its default.
TGatewayScenario ScenarioFromJson(const std::string& prmJsonText);
TGatewayScenario ScenarioFromFile(const std::string& prmPath);

const char* ScenarioHelp();

}  // namespace vantrel::testpeer
