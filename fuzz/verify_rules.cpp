// Rules documents and policy replies of arbitrary bytes: the engine and the policy check end with
// an outcome (no crash, no hang), and unmasking never succeeds on text it cannot have produced
// without giving back what masking it again round-trips.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "verify/LegacyPolicy.h"
#include "verify/PolicyMask.h"
#include "verify/RuleEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  vantrel::TVerifyContext ctx;  // no dialogs or gateway: nothing waits for a user
  vantrel::RunRulesDocument(ctx, in);
  vantrel::RunPolicyCheck(ctx, in, "");
  std::string plain, again;
  if (vantrel::UnmaskText(in, vantrel::ClvPolicyKey(), plain)) {
    std::string masked = vantrel::MaskText(plain, vantrel::DrawSalt(), vantrel::ClvPolicyKey());
    if (!vantrel::UnmaskText(masked, vantrel::ClvPolicyKey(), again) || again != plain)
      __builtin_trap();
  }
  return 0;
}
