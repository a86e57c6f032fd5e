// The control's event interface: the four session events (custom-portal mode only, always on the
// window thread) and the ten events of the embedded form. A sink overrides what it listens to.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel {

constexpr int32_t DISPID_OnActivate = 201;
constexpr int32_t DISPID_OnClick = 202;
constexpr int32_t DISPID_OnCreate = 203;
constexpr int32_t DISPID_OnDblClick = 204;
constexpr int32_t DISPID_OnDestroy = 205;
constexpr int32_t DISPID_OnDeactivate = 206;
constexpr int32_t DISPID_OnKeyPress = 207;
constexpr int32_t DISPID_OnMouseEnter = 208;
constexpr int32_t DISPID_OnMouseLeave = 209;
constexpr int32_t DISPID_OnPaint = 210;
constexpr int32_t DISPID_OnTCSStatusChanged = 211;
constexpr int32_t DISPID_OnHostStatusChanged = 212;
constexpr int32_t DISPID_OnError = 213;
constexpr int32_t DISPID_OnTimeoutAlert = 214;

class IVantrelTCSXEvents {
 public:
  virtual ~IVantrelTCSXEvents() = default;

  virtual void OnTCSStatusChanged(int32_t /*prmID*/, int32_t /*prmLParam*/,
                                  const std::string& /*prmSParam*/) {}
  virtual void OnHostStatusChanged(int32_t /*prmHostID*/, int32_t /*prmNewState*/) {}
  virtual void OnError(int32_t /*prmCode*/, const std::string& /*prmExtra*/) {}
  virtual void OnTimeoutAlert(int32_t /*prmType*/, int32_t /*prmSecondsLeft*/) {}

  // The form events without arguments, by DISPID (201-206, 208-210).
  virtual void OnFormEvent(int32_t /*prmDispID*/) {}
  // The sink may replace the key it is given.
  virtual void OnKeyPress(char16_t& /*Key*/) {}
};

}  // namespace vantrel
