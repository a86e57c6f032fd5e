// Doubles for the session manager's unit tests: a tunnel manager whose answers the test sets, a
// reporting channel that records every report in order, an availability server scripted by
// path, and an RDP client with fixed answers.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FileExchangeDoubles.h"
#include "catalogue/TCSCodes.h"
#include "diag/Exceptions.h"
#include "platform/Event.h"
#include "platform/RdpClient.h"
#include "session/VantrelTCSMng.h"
#include "support/ScriptedDialogs.h"

namespace vantrel::test::mng {

// Limits that only keep a broken build from hanging; never a timing assertion.
constexpr int kHangGuardMs = 60000;

struct TFakeTunnelState {
  std::mutex Lock;
  bool InitThrows = false;
  bool Ready = true;
  // IsReady waits its whole slice when set (a gateway that never answers).
  bool ReadyBlocks = false;
  std::atomic<int> IsReadyCalls{0};
  std::vector<std::pair<int, std::string>> LogMsgs;
  int CloseClientConnsCalls = 0;
  bool Destroyed = false;
  HWND OnCloseWnd = nullptr;
  uint32_t OnCloseMsg = 0;
};

// The file exchange's tunnel double with every connection refused, plus what start-up asks of a
// tunnel: set-up failures, readiness, gateway log lines and the loss handling.
class TFakeAppMng : public TListenerTunnel {
 public:
  explicit TFakeAppMng(std::shared_ptr<TFakeTunnelState> prmState) : m_State(std::move(prmState)) {
    RefuseConns = true;
  }
  ~TFakeAppMng() override {
    std::lock_guard<std::mutex> g(m_State->Lock);
    m_State->Destroyed = true;
  }
  void InitControlConnection() override {
    if (m_State->InitThrows) throw EBaseException("Failed to connect to gateway");
  }
  void SendLogMsg(uint8_t prmLogLevel, const std::string& prmProtocol, uint32_t, const std::string&,
                  const std::string& prmMsg) override {
    EXPECT_EQ(prmProtocol, "VantrelTCS");
    std::lock_guard<std::mutex> g(m_State->Lock);
    m_State->LogMsgs.emplace_back(prmLogLevel, prmMsg);
  }
  std::string GetUsername(bool prmNoAlt) override { return prmNoAlt ? "portal" : "effective"; }
  std::string GetPassword(bool prmNoAlt) override { return prmNoAlt ? "portalpw" : "effpw"; }
  void GetTimers(uint32_t& prmIdle, uint32_t& prmLife) override {
    prmIdle = 100;
    prmLife = 200;
  }
  bool IsReady(int prmTO) override {
    ++m_State->IsReadyCalls;
    if (m_State->ReadyBlocks) {
      std::this_thread::sleep_for(std::chrono::milliseconds(prmTO));
      return false;
    }
    return m_State->Ready;
  }
  bool IsConnected() override { return m_State->Ready; }
  void RegisterOnClose(HWND prmWnd, uint32_t prmMsgID) override {
    m_State->OnCloseWnd = prmWnd;
    m_State->OnCloseMsg = prmMsgID;
  }
  void CloseClientConns() override {
    std::lock_guard<std::mutex> g(m_State->Lock);
    ++m_State->CloseClientConnsCalls;
  }

 private:
  std::shared_ptr<TFakeTunnelState> m_State;
};

// Every report as one text: "S<id>/<lparam>" for a status, "E<id>:<extra>" for an error,
// "H<index>=<status>" for a host status, "D" for DisableCustomDest, "A<kind>:<seconds>".
class TRecordingUI : public ITCSUserInterface {
 public:
  void UpdateTCSStatus(int prmID, int prmLParam, const std::string&) override {
    if (prmID != TCS_STATUS_NONE)
      Add("S" + std::to_string(prmID) + "/" + std::to_string(prmLParam));
  }
  void ReportError(int prmErrorID, const std::string& prmExtra) override {
    Add("E" + std::to_string(prmErrorID) + ":" + prmExtra);
  }
  void IdleTimeoutAlert(int s) override { Add("A1:" + std::to_string(s)); }
  void LifetimeTimeoutalert(int s) override { Add("A2:" + std::to_string(s)); }
  void IdleTimeoutAlertKM(int s) override { Add("A3:" + std::to_string(s)); }
  void ClearTimeoutAlerts() override { Add("A0:0"); }
  void UpdateHostStatus(int prmID, int prmLParam) override {
    Add("H" + std::to_string(prmID) + "=" + std::to_string(prmLParam));
  }
  void DisableCustomDest() override { Add("D"); }

  std::vector<std::string> Reports() {
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Reports;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Reports.clear();
  }
  // Reports that begin with prmPrefix ("S" statuses, "E" errors).
  std::vector<std::string> Reports(const std::string& prmPrefix) {
    std::vector<std::string> out;
    for (auto& r : Reports())
      if (r.compare(0, prmPrefix.size(), prmPrefix) == 0) out.push_back(r);
    return out;
  }

 private:
  void Add(std::string prmText) {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Reports.push_back(std::move(prmText));
  }
  std::mutex m_Lock;
  std::vector<std::string> m_Reports;
};

class TFixedRdpClient : public IRdpClient {
 public:
  TFixedRdpClient(bool prmInstalled, std::string prmVersion)
      : m_Installed(prmInstalled), m_Version(std::move(prmVersion)) {}
  bool CanCreate() override { return m_Installed; }
  std::string VersionText() override { return m_Version; }

 private:
  bool m_Installed;
  std::string m_Version;
};

// Answers by path ("/query/info", "/query/hosts", ...); each path's replies are consumed in
// order and its last one repeated. A path without replies fails with "no reply".
class TScriptedServer {
 public:
  struct TReply {
    bool Ok = true;
    std::string Body;
  };
  void Script(const std::string& prmPath, std::vector<TReply> prmReplies) {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Replies[prmPath] = std::move(prmReplies);
  }
  TGetFileFn Fn() {
    return [this](const std::string& prmURL, std::string& prmBody, int prmStatusID,
                  const std::string&, std::string& prmFail, const std::string&) {
      std::lock_guard<std::mutex> g(m_Lock);
      m_URLs.push_back(prmURL);
      m_StatusIDs.push_back(prmStatusID);
      size_t start = prmURL.find('/', prmURL.find("//") + 2);
      std::string path = prmURL.substr(start, prmURL.find('?') - start);
      auto it = m_Replies.find(path);
      if (it == m_Replies.end() || it->second.empty()) {
        prmFail = "no reply";
        return false;
      }
      TReply r = it->second.front();
      if (it->second.size() > 1) it->second.erase(it->second.begin());
      prmBody = r.Body;
      if (!r.Ok) prmFail = "fetch failed";
      return r.Ok;
    };
  }
  std::vector<std::string> URLs() {
    std::lock_guard<std::mutex> g(m_Lock);
    return m_URLs;
  }
  void Clear() {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Replies.clear();
    m_URLs.clear();
    m_StatusIDs.clear();
  }
  std::vector<std::string> URLsFor(const std::string& prmPath) {
    std::vector<std::string> out;
    for (auto& u : URLs())
      if (u.find(prmPath) != std::string::npos) out.push_back(u);
    return out;
  }

 private:
  std::mutex m_Lock;
  std::map<std::string, std::vector<TReply>> m_Replies;
  std::vector<std::string> m_URLs;
  std::vector<int> m_StatusIDs;
};

constexpr const char* kInfoReply = "<OQN><Version>4.0.2</Version><Instance>inst-1</Instance></OQN>";
constexpr const char* kHostsReply =
    "<OQN><Hosts RDPPort=\"3389\"><Host ID=\"10.0.0.5\" Desc=\"Desk A\"/>"
    "<Host ID=\"10.0.0.6\" Desc=\"Desk B\"/></Hosts></OQN>";

}  // namespace vantrel::test::mng

namespace vantrel::test::mng {

// A manager on a window owned by the test thread, with a fake tunnel, a scripted availability
// server, scripted dialogs and an installed RDP client.
class TSessionTest : public ::testing::Test {
 protected:
  TSessionTest()
      : m_Window([this](uint32_t prmMsg, uintptr_t prmW, intptr_t prmL) {
          bool handled = false;
          if (m_Mng) m_Mng->MsgProc(prmMsg, prmW, prmL, handled);
          return intptr_t{0};
        }) {
    m_DB.SetOstraServer("10.1.1.1:8080");
  }
  ~TSessionTest() override { m_Mng.reset(); }

  void Make(int prmPlatform = PLATFORM_TYPE_MORV, bool prmWithStore = true) {
    m_Mng = std::make_unique<TVantrelTCSMng>(m_UI, &m_Window, m_Dialogs);
    m_Mng->SetAppMngFactory([this](int prmType, const TAppMngParams& prmParams) {
      m_FactoryType = prmType;
      m_FactoryParams = prmParams;
      if (m_FactoryThrows) throw std::runtime_error("no memory for the tunnel");
      return std::make_unique<TFakeAppMng>(m_Tunnel);
    });
    m_Mng->SetRdpClient(std::make_unique<TFixedRdpClient>(true, "10.0.19041"));
    m_Mng->SetGetFile(m_Server.Fn());
    m_Mng->SetPlatformType(prmPlatform);
    if (prmWithStore) m_Mng->SetDBMng(&m_DB);
  }

  // ConnectStart on a start-up thread while this thread, the window thread, handles messages.
  bool Start() {
    TEvent done(true);
    bool result = false;
    std::thread t([&] {
      result = m_Mng->ConnectStart();
      done.Set();
    });
    m_Window.WaitHandlingMessages(done, kHangGuardMs);
    t.join();
    m_Window.ProcessMessages();
    return result;
  }

  // Info and desktops answered well; the first info answer is the discarded one.
  void ScriptGoodServer(const std::string& prmInfo = kInfoReply) {
    m_Server.Script("/query/info", {{true, prmInfo}});
    m_Server.Script("/query/hosts", {{true, kHostsReply}});
  }

  std::vector<std::pair<int, std::string>> TunnelLogs() {
    std::lock_guard<std::mutex> g(m_Tunnel->Lock);
    return m_Tunnel->LogMsgs;
  }
  bool TunnelDestroyed() {
    std::lock_guard<std::mutex> g(m_Tunnel->Lock);
    return m_Tunnel->Destroyed;
  }

  TWindow m_Window;
  TRecordingUI m_UI;
  TScriptedDialogs m_Dialogs;
  TDBMng m_DB;
  TScriptedServer m_Server;
  std::shared_ptr<TFakeTunnelState> m_Tunnel = std::make_shared<TFakeTunnelState>();
  int m_FactoryType = 0;
  TAppMngParams m_FactoryParams;
  bool m_FactoryThrows = false;
  std::unique_ptr<TVantrelTCSMng> m_Mng;
};

using TReports = std::vector<std::string>;

}  // namespace vantrel::test::mng
