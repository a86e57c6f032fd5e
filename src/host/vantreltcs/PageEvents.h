// The control's event sink for the page channel: every event goes out as one
// {"event":"Name","args":[...]} line.
#pragma once

#include "control/EventSink.h"
#include "host/vantreltcs/PageChannel.h"

namespace vantrel::host {

class TPageEvents final : public IVantrelTCSXEvents {
 public:
  explicit TPageEvents(TPageChannel& prmChannel) : m_Channel(prmChannel) {}

  void OnTCSStatusChanged(int32_t prmID, int32_t prmLParam, const std::string& prmSParam) override;
  void OnHostStatusChanged(int32_t prmHostID, int32_t prmNewState) override;
  void OnError(int32_t prmCode, const std::string& prmExtra) override;
  void OnTimeoutAlert(int32_t prmType, int32_t prmSecondsLeft) override;
  void OnFormEvent(int32_t prmDispID) override;
  // The page cannot answer within the event; the key stays as it is.
  void OnKeyPress(char16_t& Key) override;

 private:
  TPageChannel& m_Channel;
};

// The name of a form event's DISPID ("OnClick"); empty for others.
const char* FormEventName(int32_t prmDispID);

}  // namespace vantrel::host
