#include <mutex>

#include "diag/DebugLog.h"
#include "verify/Handlers.h"

namespace vantrel {

namespace {

std::vector<const CLVEvalBase*>& EvalRegistry() {
  static std::vector<const CLVEvalBase*> list;
  return list;
}

std::vector<const CLVActionBase*>& ActionRegistry() {
  static std::vector<const CLVActionBase*> list;
  return list;
}

template <typename T>
const T* FindByTag(const std::vector<const T*>& prmList, const std::string& prmTag) {
  RegisterBuiltinHandlers();
  for (const T* handler : prmList)
    if (SameText(handler->GetTag(), prmTag)) return handler;
  return nullptr;
}

}  // namespace

void RegisterEvalHandler(const CLVEvalBase& prmHandler) {
  EvalRegistry().push_back(&prmHandler);
  WriteDebugLog("RegisterEvalHandler\xEF\xBC\x9A" + prmHandler.GetTag());
}

void RegisterActionHandler(const CLVActionBase& prmHandler) {
  ActionRegistry().push_back(&prmHandler);
  WriteDebugLog("RegisterActionHandler\xEF\xBC\x9A" + prmHandler.GetTag());
}

void RegisterBuiltinHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const CLVEvalBase* handler : BuiltinEvaluators()) RegisterEvalHandler(*handler);
    for (const CLVActionBase* handler : BuiltinActions()) RegisterActionHandler(*handler);
  });
}

const CLVEvalBase* FindEvalHandler(TXmlNode prmEval) {
  std::vector<TXmlNode> children = prmEval.Children();
  if (children.empty()) return nullptr;
  return FindByTag(EvalRegistry(), children.front().Name());
}

const CLVActionBase* FindActionHandler(TXmlNode prmAction) {
  if (!prmAction) return nullptr;
  return FindByTag(ActionRegistry(), prmAction.Name());
}

}  // namespace vantrel
