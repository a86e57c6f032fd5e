#include "testpeer/PeerScenario.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "diag/Exceptions.h"

namespace vantrel::testpeer {

namespace {

using json = nlohmann::json;

const char kFirstRequest[] =
    "GET /vpntunnel HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: %s\r\nCookie: %s\r\nappid: "
    "Vantrel\r\nclientid: %s\r\n\r\n";
const char kLegacyRequest[] =
    "GET /prx/000/http/localhost/clientappcontrol HTTP/1.0\r\nConnection: Keep-Alive\r\nCookie: "
    "%s\r\n\r\n";

[[noreturn]] void Bad(const std::string& prmKey, const std::string& prmWhy) {
  throw EBaseException("scenario: \"" + prmKey + "\" " + prmWhy);
}

int GetInt(const json& prmValue, const std::string& prmKey, int prmMin, int prmMax) {
  if (!prmValue.is_number_integer()) Bad(prmKey, "must be an integer");
  auto v = prmValue.get<int64_t>();
  if (v < prmMin || v > prmMax)
    Bad(prmKey, "must be between " + std::to_string(prmMin) + " and " + std::to_string(prmMax));
  return static_cast<int>(v);
}

std::string GetText(const json& prmValue, const std::string& prmKey) {
  if (!prmValue.is_string()) Bad(prmKey, "must be a string");
  return prmValue.get<std::string>();
}

bool GetBool(const json& prmValue, const std::string& prmKey) {
  if (!prmValue.is_boolean()) Bad(prmKey, "must be true or false");
  return prmValue.get<bool>();
}

std::map<std::string, std::string> GetTextMap(const json& prmValue, const std::string& prmKey) {
  if (!prmValue.is_object()) Bad(prmKey, "must be an object of strings");
  std::map<std::string, std::string> out;
  for (auto& [k, v] : prmValue.items()) out[k] = GetText(v, prmKey + "." + k);
  return out;
}

uint32_t GetAddress(const json& prmValue, const std::string& prmKey) {
  uint32_t addr = 0;
  if (prmValue.is_number_unsigned()) return prmValue.get<uint32_t>();
  if (!prmValue.is_string() || !ParseDottedQuad(prmValue.get<std::string>(), addr))
    Bad(prmKey, "must be a dotted IPv4 address or a number");
  return addr;
}

TBytes GetHex(const json& prmValue, const std::string& prmKey) {
  TBytes out;
  if (!HexToBytes(GetText(prmValue, prmKey), out)) Bad(prmKey, "must be hexadecimal bytes");
  return out;
}

std::vector<TScriptStep> GetScript(const json& prmValue) {
  if (!prmValue.is_array()) Bad("afterUp", "must be an array of steps");
  std::vector<TScriptStep> steps;
  for (const json& s : prmValue) {
    if (!s.is_object()) Bad("afterUp", "steps must be objects");
    TScriptStep step;
    for (auto& [k, v] : s.items()) {
      if (k == "delayMs")
        step.DelayMs = GetInt(v, "afterUp.delayMs", 0, 3600000);
      else if (k == "hex")
        step.Bytes = GetHex(v, "afterUp.hex");
      else if (k == "close")
        step.Close = GetBool(v, "afterUp.close");
      else
        Bad("afterUp." + k, "is not a known step key");
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

void Apply(TGatewayScenario& s, const std::string& k, const json& v) {
  if (k == "protocol") {
    std::string p = GetText(v, k);
    if (p != "first" && p != "legacy") Bad(k, "must be \"first\" or \"legacy\"");
    s.Protocol = p == "first" ? TProtocol::First : TProtocol::Legacy;
  } else if (k == "listenAddress") {
    uint32_t a = 0;
    s.ListenAddress = GetText(v, k);
    if (!ParseDottedQuad(s.ListenAddress, a) || !IsLoopbackAddr(a))
      Bad(k, "must be a loopback address");
  } else if (k == "port") {
    s.Port = static_cast<uint16_t>(GetInt(v, k, 0, 65535));
  } else if (k == "cert") {
    s.CertFile = GetText(v, k);
  } else if (k == "key") {
    s.KeyFile = GetText(v, k);
  } else if (k == "requireClientCert") {
    s.RequireClientCert = GetBool(v, k);
  } else if (k == "clientCA") {
    s.ClientCAFile = GetText(v, k);
  } else if (k == "tlsMaxVersion") {
    s.TlsMaxVersion = GetText(v, k);
    if (s.TlsMaxVersion != "1.0" && s.TlsMaxVersion != "1.1" && s.TlsMaxVersion != "1.2")
      Bad(k, "must be \"1.0\", \"1.1\" or \"1.2\"");
  } else if (k == "expectedHost") {
    s.ExpectedHost = GetText(v, k);
  } else if (k == "expectedCookie") {
    s.ExpectedCookie = GetText(v, k);
  } else if (k == "expectedClientId") {
    s.ExpectedClientId = GetText(v, k);
  } else if (k == "httpReply") {
    s.HttpReply = GetText(v, k);
  } else if (k == "forbiddenReply") {
    s.ForbiddenReply = GetText(v, k);
  } else if (k == "httpReplyDelayMs") {
    s.HttpReplyDelayMs = GetInt(v, k, -1, 3600000);
  } else if (k == "handshakeTimeoutMs") {
    s.HandshakeTimeoutMs = GetInt(v, k, 1, 3600000);
  } else if (k == "tunnelUpCode") {
    s.TunnelUpCode = GetInt(v, k, 0, 255);
  } else if (k == "tunnelUpDelayMs") {
    s.TunnelUpDelayMs = GetInt(v, k, 0, 3600000);
  } else if (k == "mapping") {
    s.Mapping = GetTextMap(v, k);
  } else if (k == "refuse") {
    std::string m = GetText(v, k);
    if (m == "close")
      s.RefuseMode = TRefuseMode::Close;
    else if (m == "ready-close")
      s.RefuseMode = TRefuseMode::ReadyClose;
    else if (m == "silent")
      s.RefuseMode = TRefuseMode::Silent;
    else
      Bad(k, "must be \"close\", \"ready-close\" or \"silent\"");
  } else if (k == "openReplyDelayMs") {
    s.OpenReplyDelayMs = GetInt(v, k, 0, 3600000);
  } else if (k == "userName") {
    s.UserName = GetText(v, k);
  } else if (k == "password") {
    s.Password = GetText(v, k);
  } else if (k == "hosts") {
    s.Hosts = GetTextMap(v, k);
    uint32_t a = 0;
    for (auto& [name, addr] : s.Hosts)
      if (!ParseDottedQuad(addr, a)) Bad("hosts." + name, "must be a dotted IPv4 address");
  } else if (k == "unknownHostAddress") {
    s.UnknownHostAddress = GetAddress(v, k);
  } else if (k == "idleTime") {
    s.IdleTime = static_cast<uint32_t>(GetInt(v, k, 0, 0x7fffffff));
  } else if (k == "lifeTime") {
    s.LifeTime = static_cast<uint32_t>(GetInt(v, k, 0, 0x7fffffff));
  } else if (k == "silentCodes") {
    if (!v.is_array()) Bad(k, "must be an array of codes");
    for (const json& c : v) s.SilentCodes.insert(static_cast<uint32_t>(GetInt(c, k, 0, 255)));
  } else if (k == "probeIntervalMs") {
    s.ProbeIntervalMs = GetInt(v, k, 0, 3600000);
  } else if (k == "closeAfterMs") {
    s.CloseAfterMs = GetInt(v, k, -1, 3600000);
  } else if (k == "stopReadingAfterMs") {
    s.StopReadingAfterMs = GetInt(v, k, -1, 3600000);
  } else if (k == "splitHeaderAt") {
    s.SplitHeaderAt = static_cast<size_t>(GetInt(v, k, 0, 15));
  } else if (k == "dataPieceSize") {
    s.DataPieceSize = static_cast<size_t>(GetInt(v, k, 1, 16000));
  } else if (k == "recordDataLimit") {
    s.RecordDataLimit = static_cast<size_t>(GetInt(v, k, 0, 0x7fffffff));
  } else if (k == "afterUp") {
    s.AfterUp = GetScript(v);
  } else {
    Bad(k, "is not a known key (see --help)");
  }
}

}  // namespace

std::string TGatewayScenario::RequestTemplate() const {
  return Protocol == TProtocol::First ? kFirstRequest : kLegacyRequest;
}

std::string TGatewayScenario::EffectiveHttpReply() const {
  if (!HttpReply.empty()) return HttpReply;
  return Protocol == TProtocol::First ? "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"
                                      : "HTTP/1.1 200 Connection Established\r\n\r\n";
}

TGatewayScenario ScenarioFromJson(const std::string& prmJsonText) {
  json doc = json::parse(prmJsonText, nullptr, false);
  if (doc.is_discarded()) throw EBaseException("scenario: not valid JSON");
  if (!doc.is_object()) throw EBaseException("scenario: the document must be a JSON object");
  TGatewayScenario s;
  for (auto& [k, v] : doc.items()) Apply(s, k, v);
  return s;
}

TGatewayScenario ScenarioFromFile(const std::string& prmPath) {
  std::ifstream in(prmPath, std::ios::binary);
  if (!in) throw EBaseException("scenario: cannot read " + prmPath);
  std::ostringstream text;
  text << in.rdbuf();
  return ScenarioFromJson(text.str());
}

const char* ScenarioHelp() {
  return R"(Scenario file: one JSON object; every key is optional.
  protocol            "first" (16-byte header, default) or "legacy" (13-byte header)
  listenAddress       loopback address to listen on (default "127.0.0.1")
  port                TCP port, 0 = any free port (default 0)
  cert, key           PEM files; default: a self-signed RSA 2048 certificate made at start
  requireClientCert   ask for and require a client certificate (default false)
  clientCA            PEM file of the CA that must have issued it (default: any issuer)
  tlsMaxVersion       "1.0", "1.1" or "1.2" (default "1.2"); TLS 1.0 is always allowed
  expectedHost, expectedCookie, expectedClientId
                      when set, a request with another value gets forbiddenReply and is closed
  httpReply           reply to a correct request (default "HTTP/1.1 200 OK\r\nContent-Length:
                      0\r\n\r\n", legacy "HTTP/1.1 200 Connection Established\r\n\r\n")
  forbiddenReply      default "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"
  httpReplyDelayMs    delay before the reply; -1 = never reply (default 0)
  handshakeTimeoutMs  TLS handshake and request limit (default 30000)
  tunnelUpCode        sent after the client's init message: 1, 15 or 83; 0 = never (default 1)
  tunnelUpDelayMs     delay before tunnel-up (default 0)
  mapping             {"10.0.0.5:3389": "127.0.0.1:4000", "10.0.0.6": "127.0.0.1"}: where
                      an open request connects; unmapped loopback destinations are used as
                      they are, anything else is refused
  refuse              answer to an open that cannot connect: "close" (code 7, default),
                      "ready-close" (5 then 7) or "silent"
  openReplyDelayMs    delay before the connection-ready answer (default 0)
  userName, password  answers to codes 18 and 19, sent byte for byte (default "")
  hosts               {"desk1.example": "10.0.0.5"}: answers to code 20
  unknownHostAddress  answer for other names: dotted text or number (default 0)
  idleTime, lifeTime  answers to code 23, seconds (default 0)
  silentCodes         request codes never answered, e.g. [9, 18, 20] (default [])
  probeIntervalMs     send a probe (81) this often after tunnel-up; 0 = never (default 0)
  closeAfterMs        close the control connection this long after tunnel-up; -1 = never
  stopReadingAfterMs  read nothing more from the client this long after tunnel-up (the
                      connection stays open, the client's sends back up); -1 = never
  splitHeaderAt       1..15: every header the peer sends is split into two TLS records
  dataPieceSize       largest data payload per message to the client (default 1024)
  recordDataLimit     data payload bytes kept for inspection (default 4194304)
  afterUp             steps played after tunnel-up, in order:
                      [{"delayMs": 100}, {"hex": "0600000000..."}, {"close": true}]
                      each "hex" is sent as one TLS record
)";
}

}  // namespace vantrel::testpeer
