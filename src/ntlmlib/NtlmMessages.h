// NTLM message layouts: the negotiate message (type 1), the server's challenge (type 2) and the
// authenticate message (type 3). Bytes in, bytes out; a malformed challenge is refused whole.
#pragma once

#include <cstdint>
#include <string>

#include "ntlmlib/NtlmCrypto.h"

namespace vantrel::ntlm {

enum : uint32_t {
  kNegotiateUnicode = 0x00000001,
  kNegotiateOem = 0x00000002,
  kRequestTarget = 0x00000004,
  kNegotiateNtlm = 0x00000200,
  kNegotiateAlwaysSign = 0x00008000,
  kNegotiateExtendedSessionSecurity = 0x00080000,
  kNegotiateTargetInfo = 0x00800000,
  kNegotiate128 = 0x20000000,
  kNegotiate56 = 0x80000000,
  // What this client asks for: no signing or sealing keys, the proxy only checks the responses.
  kClientFlags = kNegotiateUnicode | kNegotiateOem | kRequestTarget | kNegotiateNtlm |
                 kNegotiateAlwaysSign | kNegotiateExtendedSessionSecurity | kNegotiate128 |
                 kNegotiate56,
};

struct TChallengeMessage {
  uint32_t Flags = 0;
  TChallenge ServerChallenge{};
  TBytes TargetInfo;
  bool HasTimestamp = false;  // MsvAvTimestamp present in the target info
  uint64_t Timestamp = 0;
};

struct TAuthenticateInput {
  TKey NtHash{};
  std::string User;  // UTF-8
  std::string Domain;
  std::string Workstation;
  TChallenge ClientChallenge{};
  uint64_t Time = 0;  // FILETIME; the server's timestamp replaces it when the challenge has one
};

TBytes BuildNegotiateMessage();
// False (prmOut untouched) for anything that is not a complete, consistent type-2 message.
bool ParseChallengeMessage(const TBytes& prmMsg, TChallengeMessage& prmOut);
// NTLMv2 and LMv2 responses; with a server timestamp the LM response is 24 zero bytes, as a
// client must not send LMv2 then.
TBytes BuildAuthenticateMessage(const TChallengeMessage& prmChallenge,
                                const TAuthenticateInput& prmInput);

}  // namespace vantrel::ntlm
