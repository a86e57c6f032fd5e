#include "tunnel/LegacyWire.h"

#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

constexpr std::string_view kLegacyReply = "HTTP/1.1 200 Connection Established\r\n\r\n";

void PutBE(uint8_t* prmOut, uint32_t prmValue, int prmBytes) {
  for (int i = prmBytes - 1; i >= 0; --i) {
    prmOut[i] = static_cast<uint8_t>(prmValue);
    prmValue >>= 8;
  }
}

uint32_t GetBE(const uint8_t* prmIn, int prmBytes) {
  uint32_t v = 0;
  for (int i = 0; i < prmBytes; ++i) v = (v << 8) | prmIn[i];
  return v;
}

}  // namespace

void EncodeLegacyHeader(const TLegacyAppHeader& prmHdr, uint8_t* prmOut) {
  prmOut[0] = static_cast<uint8_t>(prmHdr.ActionCode);
  PutBE(prmOut + 1, prmHdr.ListenIP, 4);
  PutBE(prmOut + 5, prmHdr.ListenPort, 2);
  PutBE(prmOut + 7, prmHdr.RemotePort, 2);
  PutBE(prmOut + 9, static_cast<uint32_t>(prmHdr.Len), 4);
}

TLegacyAppHeader DecodeLegacyHeader(const uint8_t* prmIn) {
  TLegacyAppHeader h;
  h.ActionCode = prmIn[0];
  h.ListenIP = GetBE(prmIn + 1, 4);
  h.ListenPort = static_cast<uint16_t>(GetBE(prmIn + 5, 2));
  h.RemotePort = static_cast<uint16_t>(GetBE(prmIn + 7, 2));
  h.Len = static_cast<int32_t>(GetBE(prmIn + 9, 4));
  return h;
}

uint32_t LegacyIdleTime(const TLegacyAppHeader& prmHdr) {
  return __builtin_bswap32(prmHdr.ListenIP);
}

std::vector<uint8_t> EncodeLegacyOpen(uint32_t prmDestAddr, uint16_t prmDestPort) {
  std::vector<uint8_t> p(kLegacyOpenPayloadSize);
  p[0] = 0x00;
  p[1] = 0x04;
  PutBE(p.data() + 2, prmDestPort, 2);
  PutBE(p.data() + 4, prmDestAddr, 4);
  return p;
}

std::string LegacySessionInit(std::string_view prmSessCookie) {
  size_t plus = prmSessCookie.find('+');
  if (plus == std::string_view::npos) return {};
  std::string text = ToAnsi(prmSessCookie.substr(plus + 1));
  if (text.size() > kMaxSessInitLen) text.resize(kMaxSessInitLen);
  return text;
}

std::string BuildLegacyTunnelRequest(std::string_view prmCookie) {
  std::string req =
      "GET /prx/000/http/localhost/clientappcontrol HTTP/1.0\r\nConnection: Keep-Alive\r\nCookie: ";
  req += prmCookie;
  req += "\r\n\r\n";
  return ToAnsi(req);
}

bool IsLegacyReplyOk(std::string_view prmReply) {
  return prmReply == kLegacyReply;
}

}  // namespace vantrel
