// Runs the verification rules an availability server sends: conditions select cases through
// evaluators, and the statements of a selected case run as actions.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "diag/Xml.h"
#include "verify/Handlers.h"

namespace vantrel {

// Documents above this size are not parsed (they count as malformed).
constexpr size_t CLV_MAX_RULES_BYTES = 16u * 1024 * 1024;
// Cases nested deeper than this are not entered (logged), so deep documents cannot exhaust the
// stack.
constexpr int CLV_MAX_NESTING = 128;

class TRuleRun {
 public:
  explicit TRuleRun(const TVerifyContext& prmCtx) : m_Ctx(prmCtx) {}

  // Runs one rule; false only when an action ended it with the terminate-session outcome.
  bool RunRule(TXmlNode prmRule, const std::vector<std::string>& prmTriggers);
  // Runs the statements of a "Body" or "Case" element; returns the outcome (0 = nothing stopped).
  int procRule(TXmlNode prmElement);

 private:
  int RunCase(TXmlNode prmCase);

  const TVerifyContext& m_Ctx;
  TRuleParams m_Params;
  int m_CaseArmed = 0;
  int m_Depth = 0;
};

// Runs every rule of a fetched rules document in order. False when a rule ended with the
// terminate-session outcome (the session then fails with error 19); a document that cannot be
// read, is not a "Rules" document or has no rules passes, and so does any error while running.
bool RunRulesDocument(const TVerifyContext& prmCtx, std::string_view prmDocument);

}  // namespace vantrel
