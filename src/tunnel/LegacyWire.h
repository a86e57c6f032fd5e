// The legacy-header protocol's framing, pure: the 13-byte header, the open request's payload, the
// session-init text, the tunnel request and its exact reply. Shares the decoded header, the
// message codes and the limits with the first protocol (TunnelWire.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tunnel/TunnelWire.h"

namespace vantrel {

constexpr int kLegacyHeaderSize = 13;
// The port every client message about a connection carries in its header.
constexpr uint16_t kLegacyConnPort = 135;
constexpr size_t kLegacyOpenPayloadSize = 8;
constexpr uint8_t mcModuleID = 16;
// A module identifier this long or longer is not announced at all.
constexpr size_t kMaxModuleIDLen = 510;
constexpr size_t kMaxSessInitLen = 255;

static_assert(kLegacyHeaderSize <= kHeaderSize, "data buffers leave room for either header");

// Client to gateway: code byte, address as its four bytes a b c d, port, identifier and length
// big-endian.
void EncodeLegacyHeader(const TLegacyAppHeader& prmHdr, uint8_t* prmOut);
// Gateway to client: the same layout; ListenIP as the number read most significant byte first.
TLegacyAppHeader DecodeLegacyHeader(const uint8_t* prmIn);
// The timers answer carries the idle time little-endian in ListenIP, unlike every other field.
uint32_t LegacyIdleTime(const TLegacyAppHeader& prmHdr);

// Open request payload: 00 04, destination port big-endian, destination address a b c d.
std::vector<uint8_t> EncodeLegacyOpen(uint32_t prmDestAddr, uint16_t prmDestPort);

// What the session-init message carries: the session text after its first "+", at most
// kMaxSessInitLen characters, as 8-bit text; empty when there is no "+".
std::string LegacySessionInit(std::string_view prmSessCookie);

std::string BuildLegacyTunnelRequest(std::string_view prmCookie);
// Only this reply, byte for byte and nothing after it, opens the tunnel.
bool IsLegacyReplyOk(std::string_view prmReply);

}  // namespace vantrel
