// The first protocol's framing, pure: header, log record, tunnel request and reply check, the
// texts of name answers. Bytes in, bytes out; no sockets, clock or host state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

constexpr int kHeaderSize = 16;
constexpr int kMaxPayload = 1024;
// Slots 1..kMaxConns exist; identifiers handed out are 1..kMaxConns-1.
constexpr int kMaxConns = 500;
constexpr int32_t kMaxMessageLen = 32768;
constexpr size_t kMaxHostNameLen = 4096;
// Answers to the name and password requests are cut to this many bytes.
constexpr size_t kMaxNameLen = 1023;
constexpr size_t kLogTextMax = 120;
constexpr size_t kReplyBufSize = 10240;

enum TMsgCode : uint8_t {
  mcTunnelUp = 1,
  mcConnReady = 5,
  mcData = 6,
  mcClose = 7,
  mcOpen = 9,
  mcKeepAlive = 13,
  mcInit = 15,
  mcUserName = 18,
  mcPassword = 19,
  mcResolve = 20,
  mcLog = 22,
  mcTimers = 23,
  mcResetTimers = 25,
  mcProbe = 81,
  mcProbeAnswer = 82,
  mcTunnelUp2 = 83,
};

// Decoded header. ListenIP holds a.b.c.d as the number (a << 24) | (b << 16) | (c << 8) | d in
// both directions (as ParseDottedQuad gives it); the byte order on the wire is the codec's
// business.
struct TLegacyAppHeader {
  uint32_t ActionCode = 0;
  uint32_t ListenIP = 0;
  uint16_t ListenPort = 0;
  uint16_t RemotePort = 0;
  int32_t Len = 0;
};

// A header followed by the largest payload one data message carries; relay threads read the
// application's bytes straight into Data so the message goes out without another copy.
struct TDataBuf {
  uint8_t Hdr[kHeaderSize];
  uint8_t Data[kMaxPayload];
};
static_assert(sizeof(TDataBuf) == kHeaderSize + kMaxPayload);

// Client to gateway: code little-endian, address as the bytes d c b a, the rest big-endian.
void EncodeHeader(const TLegacyAppHeader& prmHdr, uint8_t* prmOut);
// Gateway to client: only byte 0 of the code counts; address, identifier and length big-endian.
TLegacyAppHeader DecodeHeader(const uint8_t* prmIn);

// Payload of a log message: texts converted to 8-bit and cut to kLogTextMax characters.
std::vector<uint8_t> EncodeLogRecord(uint8_t prmLogLevel, std::string_view prmProtocol,
                                     uint32_t prmDest, std::string_view prmDestName,
                                     std::string_view prmMsg);

// The request that turns the TLS connection into a tunnel, as 8-bit text.
std::string BuildTunnelRequest(std::string_view prmSP, std::string_view prmCookie,
                               std::string_view prmDevID);
// The reply up to its first zero byte must begin with the exact status "HTTP/1.1 200".
bool IsTunnelReplyOk(const char* prmReply, size_t prmLen);

// A name or password answer: the bytes up to the first zero, at most kMaxNameLen, as program text.
std::string NameFromPayload(const uint8_t* prmData, size_t prmLen);

}  // namespace vantrel
