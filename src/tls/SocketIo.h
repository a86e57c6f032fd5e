// Socket waits and writes for the channel, bounded so that a silent or stuck peer ends a call
// instead of holding its thread for ever. Works on blocking and non-blocking sockets alike.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel {

// Longest time a handshake or a send waits for the socket without any progress.
constexpr int kSocketStallMs = 60000;

// Writes all prmLen bytes; waits on would-block. Returns 0, or the errno of the failure
// (ETIMEDOUT after kSocketStallMs without progress, EPIPE when the peer took nothing).
int SendAll(int prmSock, const uint8_t* prmData, size_t prmLen);

// Waits until prmSock is readable (data, end of stream or an error). False on timeout.
bool WaitReadable(int prmSock, int prmTimeoutMs);

}  // namespace vantrel
