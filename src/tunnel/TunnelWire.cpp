#include "tunnel/TunnelWire.h"

#include <algorithm>

#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

void PutLE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint16_t GetBE16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// One length-prefixed text of the log record, cut so its length fits the prefix byte.
void PutShortText(std::vector<uint8_t>& prmOut, std::string_view prmText) {
  std::string ansi = ToAnsi(prmText);
  if (ansi.size() > kLogTextMax) ansi.resize(kLogTextMax);
  prmOut.push_back(static_cast<uint8_t>(ansi.size()));
  prmOut.insert(prmOut.end(), ansi.begin(), ansi.end());
}

}  // namespace

void EncodeHeader(const TLegacyAppHeader& prmHdr, uint8_t* prmOut) {
  PutLE32(prmOut, prmHdr.ActionCode);
  PutLE32(prmOut + 4, prmHdr.ListenIP);
  PutBE16(prmOut + 8, prmHdr.ListenPort);
  PutBE16(prmOut + 10, prmHdr.RemotePort);
  PutBE32(prmOut + 12, static_cast<uint32_t>(prmHdr.Len));
}

TLegacyAppHeader DecodeHeader(const uint8_t* prmIn) {
  TLegacyAppHeader h;
  h.ActionCode = prmIn[0];
  h.ListenIP = GetBE32(prmIn + 4);
  h.ListenPort = GetBE16(prmIn + 8);
  h.RemotePort = GetBE16(prmIn + 10);
  h.Len = static_cast<int32_t>(GetBE32(prmIn + 12));
  return h;
}

std::vector<uint8_t> EncodeLogRecord(uint8_t prmLogLevel, std::string_view prmProtocol,
                                     uint32_t prmDest, std::string_view prmDestName,
                                     std::string_view prmMsg) {
  std::vector<uint8_t> out;
  out.push_back(prmLogLevel);
  PutShortText(out, prmProtocol);
  out.resize(out.size() + 4, 0);
  uint8_t dest[4];
  PutLE32(dest, prmDest);
  out.insert(out.end(), dest, dest + 4);
  PutShortText(out, prmDestName);
  out.resize(out.size() + 14, 0);
  PutShortText(out, prmMsg);
  return out;
}

std::string BuildTunnelRequest(std::string_view prmSP, std::string_view prmCookie,
                               std::string_view prmDevID) {
  std::string req = "GET /vpntunnel HTTP/1.1\r\nConnection: Keep-Alive\r\nHost: ";
  req += prmSP;
  req += "\r\nCookie: ";
  req += prmCookie;
  req += "\r\nappid: Vantrel\r\nclientid: ";
  req += prmDevID;
  req += "\r\n\r\n";
  return ToAnsi(req);
}

bool IsTunnelReplyOk(const char* prmReply, size_t prmLen) {
  std::string_view reply(prmReply, prmLen);
  reply = reply.substr(0, reply.find('\0'));
  return reply.starts_with("HTTP/1.1 200");
}

std::string NameFromPayload(const uint8_t* prmData, size_t prmLen) {
  std::string_view text(reinterpret_cast<const char*>(prmData), std::min(prmLen, kMaxNameLen));
  return FromAnsi(text.substr(0, text.find('\0')));
}

}  // namespace vantrel
