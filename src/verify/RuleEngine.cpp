#include "verify/RuleEngine.h"

#include <exception>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"

namespace vantrel {

namespace {

const char* const kColon = "\xEF\xBC\x9A";  // the full-width colon of the engine's log lines

bool Contains(const std::vector<std::string>& prmList, std::string_view prmText) {
  for (const std::string& item : prmList)
    if (SameText(item, prmText)) return true;
  return false;
}

}  // namespace

bool TRuleRun::RunRule(TXmlNode prmRule, const std::vector<std::string>& prmTriggers) {
  // The trigger names are not matched against "Triggers": every rule that has one runs.
  (void)prmTriggers;
  if (!prmRule.FindFirst("Triggers")) return true;
  TXmlNode body = prmRule.FindFirst("Body");
  if (!body) return true;
  m_Params.clear();
  m_CaseArmed = 0;
  m_Depth = 0;
  int outcome = procRule(body);
  m_Params.clear();
  return outcome != CLV_TERMINATE;
}

int TRuleRun::RunCase(TXmlNode prmCase) {
  ++m_CaseArmed;
  WriteDebugLog(std::string("procRule: rule have case") + kColon + std::to_string(m_CaseArmed));
  int outcome = procRule(prmCase);
  m_CaseArmed = 0;
  return outcome;
}

int TRuleRun::procRule(TXmlNode prmElement) {
  if (m_Depth >= CLV_MAX_NESTING) {
    WriteDebugLog("procRule: cases nested deeper than " + std::to_string(CLV_MAX_NESTING) +
                  " are not run");
    return CLV_GO_ON;
  }
  struct TDepth {
    int& Depth;
    explicit TDepth(int& prmDepth) : Depth(prmDepth) { ++Depth; }
    ~TDepth() { --Depth; }
  } depth(m_Depth);

  int outcome = CLV_GO_ON;
  for (TXmlNode child : prmElement.Children()) {
    if (child.Name() == "Condition") {
      TXmlNode eval = child.FindFirst("Eval");
      if (!eval) continue;
      const CLVEvalBase* evaluator = FindEvalHandler(eval);
      if (!evaluator) continue;
      std::vector<std::string> results = evaluator->Eval(m_Ctx, m_Params, eval.Children().front());
      WriteDebugLog(std::string("procRule: evalRes count") + kColon +
                    std::to_string(results.size()));
      for (TXmlNode option : child.Children()) {
        if (option.Name() != "Case") continue;
        bool taken = results.empty() ? option.Attr("Default", "false") == "true"
                                     : Contains(results, option.Attr("Value"));
        if (!taken) continue;
        outcome = RunCase(option);
        if (outcome != CLV_GO_ON) return outcome;
      }
      continue;
    }
    WriteDebugLog(std::string("procRule:have case rule number") + kColon +
                  std::to_string(m_CaseArmed));
    if (m_CaseArmed == 0) continue;
    const CLVActionBase* action = FindActionHandler(child);
    if (!action) continue;
    outcome = action->Execute(m_Ctx, m_Params, child);
    m_CaseArmed = 0;
    if (outcome != CLV_GO_ON) return outcome;
  }
  return outcome;
}

bool RunRulesDocument(const TVerifyContext& prmCtx, std::string_view prmDocument) {
  try {
    if (prmDocument.size() > CLV_MAX_RULES_BYTES) {
      WriteDebugLog("Client verification: rules document of " + std::to_string(prmDocument.size()) +
                    " bytes is too large, no rules run");
      return true;
    }
    TXmlDoc doc = TXmlDoc::ParseBytes(prmDocument.data(), prmDocument.size());
    TXmlNode root = doc.Root();
    if (!root || root.Name() != "Rules") {
      WriteDebugLog("Client verification: no rules document, no rules run " + doc.GetError());
      return true;
    }
    const std::vector<std::string> triggers = {"postlogin", "timer"};
    for (TXmlNode rule : root.Children()) {
      if (rule.Name() != "Rule") continue;
      std::vector<TXmlNode> inner = rule.Children();
      if (!inner.empty() && inner.front().Name() == "Rule") rule = inner.front();
      TRuleRun run(prmCtx);
      if (!run.RunRule(rule, triggers)) return false;
    }
  } catch (const EBaseException& e) {
    WriteDebugLog("Client verification: error while running rules: " + e.GetMsg());
  } catch (const std::exception& e) {
    WriteDebugLog(std::string("Client verification: error while running rules: ") + e.what());
  }
  return true;
}

}  // namespace vantrel
