// Status values of the security package that the channel tells apart. OpenSSL outcomes are
// mapped onto them so callers and log lines see the same numbers as before.
#pragma once

#include <cstdint>

namespace vantrel {

using TSecStatus = uint32_t;

constexpr TSecStatus SEC_E_OK = 0;
constexpr TSecStatus SEC_I_CONTINUE_NEEDED = 0x90312;
constexpr TSecStatus SEC_I_CONTEXT_EXPIRED = 0x90317;
constexpr TSecStatus SEC_I_INCOMPLETE_CREDENTIALS = 0x90320;
constexpr TSecStatus SEC_I_RENEGOTIATE = 0x90321;
constexpr TSecStatus SEC_E_INVALID_HANDLE = 0x80090301;
constexpr TSecStatus SEC_E_INTERNAL_ERROR = 0x80090304;
constexpr TSecStatus SEC_E_INCOMPLETE_MESSAGE = 0x80090318;
constexpr TSecStatus SEC_E_ILLEGAL_MESSAGE = 0x80090326;
constexpr TSecStatus SEC_E_DECRYPT_FAILURE = 0x80090330;

// High bit set: a failure.
constexpr bool SecFailed(TSecStatus prmStatus) {
  return (prmStatus & 0x80000000u) != 0;
}

}  // namespace vantrel
