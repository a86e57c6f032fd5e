#include "host/gtk/ControlCalls.h"

#include "diag/DebugLog.h"

namespace vantrel::host::gtk {

namespace {

TDispResult Invoke(TVantrelTCSX& prmControl, const std::string& prmName, TDispKind prmKind,
                   const std::vector<Variant>& prmArgs) {
  TDispResult r = prmControl.Invoke(prmName, prmKind, prmArgs);
  if (!r.Ok()) WriteDebugLog("vantreltcs window - " + prmName + " failed: " + r.Error);
  return r;
}

}  // namespace

int32_t GetI4(TVantrelTCSX& prmControl, const std::string& prmName) {
  TDispResult r = Invoke(prmControl, prmName, TDispKind::PropertyGet, {});
  return r.Ok() && r.Value.Type() == TVarType::I4 ? r.Value.AsI4() : 0;
}

std::string GetText(TVantrelTCSX& prmControl, const std::string& prmName) {
  TDispResult r = Invoke(prmControl, prmName, TDispKind::PropertyGet, {});
  return r.Ok() && r.Value.Type() == TVarType::BStr ? r.Value.AsBStr() : std::string();
}

void Put(TVantrelTCSX& prmControl, const std::string& prmName, int32_t prmValue) {
  Invoke(prmControl, prmName, TDispKind::PropertyPut, {Variant(prmValue)});
}

std::vector<Variant> Call(TVantrelTCSX& prmControl, const std::string& prmName,
                          const std::vector<Variant>& prmArgs) {
  TDispResult r = Invoke(prmControl, prmName, TDispKind::Method, prmArgs);
  return r.Ok() ? r.Outs : std::vector<Variant>();
}

}  // namespace vantrel::host::gtk
