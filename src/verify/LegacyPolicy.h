// The legacy policy check for availability servers that send no rules: answer each requested
// policy about antivirus and firewall, report failures and the product inventory to the gateway
// log, and return the masked answer the host-list request carries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Probes.h"
#include "verify/VerifyContext.h"

namespace vantrel {

struct TPolicyAnswer {
  std::vector<std::string> Failures;
  std::string Plain;   // "AVConfirm=1,FWEnabled=0," in the fixed policy order
  std::string Masked;  // Plain masked with the answer key and a fresh salt
};

// The policy names of an unmasked list: "," and blanks separate, quoted parts stay together.
std::vector<std::string> SplitPolicyList(std::string_view prmList);

TPolicyAnswer CLVEvaluate(IProbes& prmProbes, std::string_view prmPolicyList);

struct TPolicyCheck {
  std::string Answer;   // masked; empty when no check ran
  std::string Failure;  // empty, or "invalid server response - " and the fetch's failure text
};

// Steps after a successful fetch of the policy reply: read it, and when the check is required,
// evaluate, send failures (level 4) and the audit list (level 6) to the gateway log.
TPolicyCheck RunPolicyCheck(const TVerifyContext& prmCtx, std::string_view prmReply,
                            const std::string& prmFetchFailure);

}  // namespace vantrel
