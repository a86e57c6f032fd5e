// Wire format of the gateway side of both tunnel protocols, written independently of the client's
// own encoder so that each checks the other. Pure: bytes in, bytes out; no sockets, no clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "diag/NetAddress.h"
#include "diag/TextCodecs.h"

namespace vantrel::testpeer {

enum class TProtocol { First, Legacy };

constexpr size_t kFirstHeaderSize = 16;
constexpr size_t kLegacyHeaderSize = 13;
// Largest data payload the peer sends in one message, as the client expects.
constexpr size_t kMaxDataPiece = 1024;
// Largest payload the peer accepts from a client; the client never sends more than a host name.
constexpr uint32_t kMaxClientPayload = 32768;

size_t HeaderSize(TProtocol prmProtocol);
const char* ProtocolName(TProtocol prmProtocol);

// One header in either direction. ListenIP is kept as its four wire bytes because its byte order
// depends on protocol, direction and code; the helpers below read and build it.
struct TWireHeader {
  uint32_t ActionCode = 0;  // whole 32-bit field in the first protocol, one byte in the legacy one
  std::array<uint8_t, 4> ListenIP{};
  uint16_t ListenPort = 0;
  uint16_t RemotePort = 0;  // connection identifier
  uint32_t Len = 0;
};

// prmData holds at least HeaderSize(prmProtocol) bytes.
TWireHeader DecodeHeader(TProtocol prmProtocol, const uint8_t* prmData);
TBytes EncodeHeader(TProtocol prmProtocol, const TWireHeader& prmHeader);

// ListenIP byte helpers: a 32-bit value written most or least significant byte first.
std::array<uint8_t, 4> BigEndian32(uint32_t prmValue);
std::array<uint8_t, 4> LittleEndian32(uint32_t prmValue);
uint32_t ReadBigEndian32(const std::array<uint8_t, 4>& prmBytes);

// IPv4 addresses as numbers with a.b.c.d = a<<24 | b<<16 | c<<8 | d (diag/NetAddress.h).
inline bool IsLoopbackAddr(uint32_t prmAddr) {
  return (prmAddr >> 24) == 127;
}

// Destination address of a client's open/data/close header in the first protocol (the bytes
// d, c, b, a on the wire).
uint32_t FirstProtocolDestAddr(const TWireHeader& prmHeader);

// Payload of the legacy open request: 00 04, port big-endian, address in network byte order.
bool ParseLegacyOpen(const TBytes& prmPayload, uint32_t& prmAddr, uint16_t& prmPort);

// Log record the client sends with code 22.
struct TLogRecord {
  int Session = 0;
  uint8_t Level = 0;
  std::string Protocol;
  uint32_t Dest = 0;
  std::string DestName;
  std::string Message;
};

// Strict: the lengths must add up to the payload exactly and the zero gaps must be zero; on
// failure prmError says what was wrong and prmRecord is unchanged.
bool ParseLogRecord(const TBytes& prmPayload, TLogRecord& prmRecord, std::string& prmError);
std::string FormatLogRecord(const TLogRecord& prmRecord);

// Matches prmText against a template whose "%s" placeholders each stand for text without CR or
// LF; the rest must match byte for byte. The captured texts go to prmValues.
bool MatchTemplate(std::string_view prmTemplate, std::string_view prmText,
                   std::vector<std::string>& prmValues);

// Hexadecimal text ("0a ff", "0AFF"; spaces ignored) to bytes; false on anything else.
bool HexToBytes(std::string_view prmHex, TBytes& prmBytes);

}  // namespace vantrel::testpeer

namespace vantrel::testpeer {

// Header followed by payload, as one buffer. The header's Len is written as given, so a caller
// can announce a length that differs from the payload (the timers answer, fault tests).
TBytes EncodeMessage(TProtocol prmProtocol, const TWireHeader& prmHeader, const TBytes& prmPayload);

// A gateway message with the usual fields: code, identifier and Len = payload size.
TWireHeader GatewayHeader(uint32_t prmCode, uint16_t prmId = 0, uint32_t prmLen = 0);

}  // namespace vantrel::testpeer
