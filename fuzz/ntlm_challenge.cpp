// The proxy's NTLM challenge is untrusted: reading it either fails whole or yields a target info
// that lies inside the message, and the answer built from it always carries that target info.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "ntlmlib/NtlmMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vantrel::ntlm;
  TBytes msg(data, data + size);
  TChallengeMessage challenge;
  if (!ParseChallengeMessage(msg, challenge)) return 0;
  if (challenge.TargetInfo.size() > size) __builtin_trap();
  TAuthenticateInput in{NtHash("pw"), "user", "DOMAIN", "HOST", {}, 0};
  TBytes type3 = BuildAuthenticateMessage(challenge, in);
  const TBytes& info = challenge.TargetInfo;
  if (type3.size() < 64 + 24 + 16 + 28 + info.size() ||
      (!info.empty() &&
       std::search(type3.begin(), type3.end(), info.begin(), info.end()) == type3.end()))
    __builtin_trap();
  return 0;
}
