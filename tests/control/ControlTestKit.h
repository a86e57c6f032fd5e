// A control on the test thread's window with the session's doubles wired in: a fake tunnel, a
// scripted availability server, an installed RDP client, scripted dialogs, and a sink that
// records every event in order.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "control/VantrelTCSImpl.h"
#include "session/SessionTestKit.h"
#include "support/ScriptedDialogs.h"

namespace vantrel::test::control {

using mng::kHangGuardMs;

class TRecordingSink : public IVantrelTCSXEvents {
 public:
  void OnTCSStatusChanged(int32_t prmID, int32_t prmLParam, const std::string& prmSParam) override {
    Events.push_back("S" + std::to_string(prmID) + "/" + std::to_string(prmLParam) + ":" +
                     prmSParam);
  }
  void OnHostStatusChanged(int32_t prmHostID, int32_t prmNewState) override {
    Events.push_back("H" + std::to_string(prmHostID) + "=" + std::to_string(prmNewState));
  }
  void OnError(int32_t prmCode, const std::string& prmExtra) override {
    Events.push_back("E" + std::to_string(prmCode) + ":" + prmExtra);
  }
  void OnTimeoutAlert(int32_t prmType, int32_t prmSecondsLeft) override {
    Events.push_back("A" + std::to_string(prmType) + ":" + std::to_string(prmSecondsLeft));
  }
  void OnFormEvent(int32_t prmDispID) override {
    Events.push_back("F" + std::to_string(prmDispID));
  }
  void OnKeyPress(char16_t& Key) override {
    Events.push_back("K");
    if (Key == u'a') Key = u'b';
  }
  std::vector<std::string> Events;
};

class ControlTest : public ::testing::Test {
 protected:
  ControlTest() : m_X(std::make_unique<TVantrelTCSX>(m_Dialogs)) {
    // Launches that get through start a harmless program instead of a real RDP client.
    setenv("VANTREL_RDP_CLIENT", "true", 1);
    m_X->Advise(&m_Sink);
    TVantrelTCSMng& mng = m_X->TCSMng();
    mng.SetAppMngFactory(
        [this](int, const TAppMngParams&) { return std::make_unique<mng::TFakeAppMng>(m_Tunnel); });
    mng.SetRdpClient(std::make_unique<mng::TFixedRdpClient>(true, "10.0.19041"));
    mng.SetGetFile(m_Server.Fn());
    m_Server.Script("/query/info", {{true, mng::kInfoReply}});
    m_Server.Script("/query/hosts", {{true, mng::kHostsReply}});
  }

  void Load(std::map<std::string, std::string> prmValues) {
    TMapPropertyBag bag(std::move(prmValues));
    EXPECT_EQ(m_X->Load(bag), S_OK);
  }
  // Waits for the start-up thread while handling the window's messages, then drains them.
  void WaitStartup() {
    ASSERT_TRUE(m_X->Window().WaitHandlingMessages(m_X->StartupDoneEvent(), kHangGuardMs));
    m_X->Window().ProcessMessages();
  }
  TDispResult Get(const std::string& prmName) {
    return m_X->Invoke(prmName, TDispKind::PropertyGet);
  }
  TDispResult Put(const std::string& prmName, Variant prmValue) {
    return m_X->Invoke(prmName, TDispKind::PropertyPut, {std::move(prmValue)});
  }
  TDispResult Call(const std::string& prmName, std::vector<Variant> prmArgs = {}) {
    return m_X->Invoke(prmName, TDispKind::Method, prmArgs);
  }
  int32_t GetI4(const std::string& prmName) { return Get(prmName).Value.AsI4(); }
  std::string GetBStr(const std::string& prmName) { return Get(prmName).Value.AsBStr(); }
  void Pump() { m_X->Window().ProcessMessages(); }

  TScriptedDialogs m_Dialogs;
  TRecordingSink m_Sink;
  std::shared_ptr<mng::TFakeTunnelState> m_Tunnel = std::make_shared<mng::TFakeTunnelState>();
  mng::TScriptedServer m_Server;
  std::unique_ptr<TVantrelTCSX> m_X;
};

// Configuration strings in clear text ("*" first): items 1 to 28, ";"-terminated.
inline std::string ConfigStr(std::map<int, std::string> prmItems) {
  std::string out = "*";
  prmItems.emplace(16, "10");  // the embedded form stays enabled unless the test says
  for (int i = 1; i <= 28; ++i) out += (prmItems.count(i) ? prmItems[i] : std::string()) + ";";
  return out;
}

}  // namespace vantrel::test::control
