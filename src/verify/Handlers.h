// The two kinds of rule handlers and their process-wide registries. Handlers are stateless
// singletons registered once (thread-safe); lookups never change the registries afterwards, so
// they need no lock.
#pragma once

#include <string>
#include <tuple>
#include <vector>

#include "diag/Xml.h"
#include "verify/VerifyContext.h"

namespace vantrel {

// Action outcomes: go on; stop the rule with success; stop it and fail verification.
constexpr int CLV_GO_ON = 0;
constexpr int CLV_END_RULE = 1;
constexpr int CLV_TERMINATE = 2;

class CLVEvalBase {
 public:
  virtual ~CLVEvalBase() = default;
  virtual std::string GetTag() const = 0;
  // The result texts for the condition element prmCond.
  virtual std::vector<std::string> Eval(const TVerifyContext& prmCtx, TRuleParams& prmParams,
                                        TXmlNode prmCond) const = 0;
};

class CLVActionBase {
 public:
  virtual ~CLVActionBase() = default;
  virtual std::string GetTag() const = 0;
  virtual int Execute(const TVerifyContext& prmCtx, TRuleParams& prmParams,
                      TXmlNode prmAction) const = 0;
};

// Appends to the registry and writes the registration to the debug log.
void RegisterEvalHandler(const CLVEvalBase& prmHandler);
void RegisterActionHandler(const CLVActionBase& prmHandler);

// The evaluator named by the first child of an "Eval" element; null when there is no child or the
// tag is not registered. Tags compare without regard to case; the first registered wins.
const CLVEvalBase* FindEvalHandler(TXmlNode prmEval);
// The action named by the element's name; null when not registered.
const CLVActionBase* FindActionHandler(TXmlNode prmAction);

// The built-in handlers, registered in their fixed order. Done once, on the first lookup rather
// than at load, so the registration lines reach a debug log that is configured by then and
// programs that never verify log nothing. Safe to call again.
void RegisterBuiltinHandlers();

// The built-in handler singletons, in registration order.
std::vector<const CLVEvalBase*> BuiltinEvaluators();
std::vector<const CLVActionBase*> BuiltinActions();

// One instance of each of the (stateless) handler classes, made on first use, in the order given.
template <typename TBase, typename... THandlers>
std::vector<const TBase*> HandlerSingletons() {
  static const std::tuple<THandlers...> kHandlers;
  return std::apply(
      [](const THandlers&... prmHandlers) { return std::vector<const TBase*>{&prmHandlers...}; },
      kHandlers);
}

}  // namespace vantrel
