#include "host/vantreltcs/PageEvents.h"

namespace vantrel::host {

const char* FormEventName(int32_t prmDispID) {
  static const char* const kNames[] = {"OnActivate",   "OnClick",      "OnCreate",   "OnDblClick",
                                       "OnDestroy",    "OnDeactivate", "OnKeyPress", "OnMouseEnter",
                                       "OnMouseLeave", "OnPaint"};
  if (prmDispID < DISPID_OnActivate || prmDispID > DISPID_OnPaint) return "";
  return kNames[prmDispID - DISPID_OnActivate];
}

void TPageEvents::OnTCSStatusChanged(int32_t prmID, int32_t prmLParam,
                                     const std::string& prmSParam) {
  m_Channel.WriteLine(EncodeEvent("OnTCSStatusChanged", {prmID, prmLParam, prmSParam}));
}

void TPageEvents::OnHostStatusChanged(int32_t prmHostID, int32_t prmNewState) {
  m_Channel.WriteLine(EncodeEvent("OnHostStatusChanged", {prmHostID, prmNewState}));
}

void TPageEvents::OnError(int32_t prmCode, const std::string& prmExtra) {
  m_Channel.WriteLine(EncodeEvent("OnError", {prmCode, prmExtra}));
}

void TPageEvents::OnTimeoutAlert(int32_t prmType, int32_t prmSecondsLeft) {
  m_Channel.WriteLine(EncodeEvent("OnTimeoutAlert", {prmType, prmSecondsLeft}));
}

void TPageEvents::OnFormEvent(int32_t prmDispID) {
  const char* name = FormEventName(prmDispID);
  if (*name != '\0') m_Channel.WriteLine(EncodeEvent(name, {}));
}

void TPageEvents::OnKeyPress(char16_t& Key) {
  m_Channel.WriteLine(EncodeEvent("OnKeyPress", {static_cast<int32_t>(Key)}));
}

}  // namespace vantrel::host
