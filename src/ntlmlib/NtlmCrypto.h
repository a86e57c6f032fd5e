// The NTLMv2 computations: NT hash, NTOWFv2, the NTLMv2 and LMv2 responses. Pure functions:
// time and client challenge are arguments, so published examples replay exactly.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace vantrel::ntlm {

using TBytes = std::vector<uint8_t>;
using TKey = std::array<uint8_t, 16>;
using TChallenge = std::array<uint8_t, 8>;

// UTF-8 to UTF-16LE bytes; a malformed sequence becomes U+FFFD.
TBytes Utf16Le(std::string_view prmUtf8);
// ASCII letters only: the NTLM user name is upper-cased before hashing.
char AsciiUpper(char c);

TKey HmacMd5(const TKey& prmKey, const TBytes& prmData);
// MD4 of the UTF-16LE password.
TKey NtHash(std::string_view prmPassword);
// HMAC-MD5 of the upper-cased user name and the domain (as given), keyed with the NT hash.
TKey NtowfV2(const TKey& prmNtHash, std::string_view prmUser, std::string_view prmDomain);

// The blob the NTLMv2 response covers: version bytes, time, client challenge, target info.
TBytes NtlmV2Blob(uint64_t prmTime, const TChallenge& prmClient, const TBytes& prmTargetInfo);
// NTProofStr followed by the blob.
TBytes NtlmV2Response(const TKey& prmNtowf, const TChallenge& prmServer, const TBytes& prmBlob);
// HMAC of both challenges followed by the client challenge (24 bytes).
TBytes LmV2Response(const TKey& prmNtowf, const TChallenge& prmServer, const TChallenge& prmClient);

}  // namespace vantrel::ntlm
