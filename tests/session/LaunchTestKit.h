// Doubles for desktop-launch tests: a tunnel with scripted name resolution and recorded
// listeners, a fake RDP client program that records its arguments and the connection file, and
// a page-hosted RDP client control.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "SessionTestKit.h"
#include "session/RdpClientControl.h"
#include "support/TestEnv.h"

namespace vantrel::test::mng {

struct TLaunchTunnelState {
  std::mutex Lock;
  std::deque<uint32_t> Answers;  // ResolveHost's answers in order; the last one repeats
  std::vector<std::string> Resolves;
  struct TConn {
    std::string Dest;
    int SecurityRDP;
    bool SSO, SSP;
  };
  std::vector<TConn> Conns;
  bool AddOk = true;
  int LocalPort = 47001;
};

// 10.0.0.5 in network byte order, the way the tunnel answers.
inline uint32_t NetAddr(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  uint32_t v = 0;
  uint8_t bytes[4] = {a, b, c, d};
  std::memcpy(&v, bytes, 4);
  return v;
}

class TLaunchTunnel : public TFakeAppMng {
 public:
  TLaunchTunnel(std::shared_ptr<TFakeTunnelState> prmState,
                std::shared_ptr<TLaunchTunnelState> prmLaunch)
      : TFakeAppMng(std::move(prmState)), m_Launch(std::move(prmLaunch)) {}
  using TFakeAppMng::AddConn;
  bool AddConn(const std::string& prmDestIP, int prmDestPort, int, int& prmLocalPort, HWND,
               uint32_t, int, int securityRDPFlag, bool SSOFlag, bool SSPFlag) override {
    std::lock_guard<std::mutex> g(m_Launch->Lock);
    m_Launch->Conns.push_back(
        {prmDestIP + ":" + std::to_string(prmDestPort), securityRDPFlag, SSOFlag, SSPFlag});
    prmLocalPort = m_Launch->LocalPort;
    return m_Launch->AddOk;
  }
  uint32_t ResolveHost(const std::string& prmHost) override {
    std::lock_guard<std::mutex> g(m_Launch->Lock);
    m_Launch->Resolves.push_back(prmHost);
    if (m_Launch->Answers.empty()) return 0;
    uint32_t r = m_Launch->Answers.front();
    if (m_Launch->Answers.size() > 1) m_Launch->Answers.pop_front();
    return r;
  }

 private:
  std::shared_ptr<TLaunchTunnelState> m_Launch;
};

inline std::string ReadText(const std::string& prmPath) {
  std::ifstream in(prmPath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A ready session whose RDP client program is a script recording into m_Rec ("argv": one
// argument per line; "file": the connection file as the client found it).
class TLaunchTest : public TSessionTest {
 protected:
  void SetUp() override {
    m_Rec =
        TestRoot() + "/launch-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(m_Rec);
    const std::string client = m_Rec + "/fake-client";
    std::ofstream(client) << "#!/bin/sh\n"
                          << "for last in \"$@\"; do :; done\n"
                          << "cp \"$last\" '" << m_Rec << "/file.tmp'\n"
                          << "for a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > '" << m_Rec
                          << "/argv.tmp'\n"
                          << "mv '" << m_Rec << "/file.tmp' '" << m_Rec << "/file'\n"
                          << "mv '" << m_Rec << "/argv.tmp' '" << m_Rec << "/argv'\n";
    std::filesystem::permissions(client, std::filesystem::perms::owner_all);
    setenv("VANTREL_RDP_CLIENT", client.c_str(), 1);
  }
  void TearDown() override { unsetenv("VANTREL_RDP_CLIENT"); }

  // Start-up against the scripted server; prmSettings goes into the information reply.
  void StartSession(const std::string& prmSettings = "", const std::string& prmHosts = "") {
    m_DB.SetType(2);
    Make();
    m_Mng->SetAppMngFactory([this](int, const TAppMngParams&) {
      return std::make_unique<TLaunchTunnel>(m_Tunnel, m_Launch);
    });
    ScriptGoodServer("<OQN><Version>4.0.2</Version><Instance>inst-1</Instance>" + prmSettings +
                     "</OQN>");
    if (!prmHosts.empty()) m_Server.Script("/query/hosts", {{true, prmHosts}});
    ASSERT_TRUE(Start());
    m_UI.Clear();
    std::lock_guard<std::mutex> g(m_Launch->Lock);
    m_Launch->Conns.clear();  // the availability server's
    m_Launch->Resolves.clear();
  }

  // Typed destination with the usual arguments.
  void Launch(const std::string& prmDest, int prmIndex = -1, bool prmConsole = false,
              bool prmSSO = false) {
    m_Mng->LaunchDesktop(prmDest, prmIndex, 1280, 1024, 24, false, 0, 0, prmConsole, false, prmSSO,
                         "", "", 0, &m_DB);
  }

  // Waits for the fake client's record; the guard only keeps a broken build from hanging.
  std::vector<std::string> ClientArgs() {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHangGuardMs);
    while (!std::filesystem::exists(m_Rec + "/argv") && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::string> out;
    std::stringstream s(ReadText(m_Rec + "/argv"));
    for (std::string line; std::getline(s, line);) out.push_back(line);
    return out;
  }
  std::string ClientFile() {
    ClientArgs();
    return ReadText(m_Rec + "/file");
  }
  std::vector<std::string> Resolves() {
    std::lock_guard<std::mutex> g(m_Launch->Lock);
    return m_Launch->Resolves;
  }
  std::vector<TLaunchTunnelState::TConn> Conns() {
    std::lock_guard<std::mutex> g(m_Launch->Lock);
    return m_Launch->Conns;
  }

  std::shared_ptr<TLaunchTunnelState> m_Launch = std::make_shared<TLaunchTunnelState>();
  std::string m_Rec;
};

// The page's RDP client control: properties in fields, each call recorded; a named property
// refuses when listed in Fail.
class TFakeRdpControl : public IRdpClientControl, public IRdpClientAdvancedSettings {
 public:
  std::string Server = "desk.corp";
  int Port = 3390;
  bool HasAdvanced = true;
  std::string UserName, Password;
  std::string Fail;  // "GetServer", "SetServer", "GetRDPPort", ...

  bool GetServer(std::string& prmServer) override {
    prmServer = Server;
    return Fail != "GetServer";
  }
  bool SetServer(const std::string& prmServer) override {
    Server = prmServer;
    return Fail != "SetServer";
  }
  bool SetUserName(const std::string& prmUserName) override {
    UserName = prmUserName;
    return Fail != "SetUserName";
  }
  IRdpClientAdvancedSettings* AdvancedSettings() override { return HasAdvanced ? this : nullptr; }
  bool GetRDPPort(int& prmPort) override {
    prmPort = Port;
    return Fail != "GetRDPPort";
  }
  bool SetRDPPort(int prmPort) override {
    Port = prmPort;
    return Fail != "SetRDPPort";
  }
  bool SetClearTextPassword(const std::string& prmPassword) override {
    Password = prmPassword;
    return Fail != "SetClearTextPassword";
  }
};

}  // namespace vantrel::test::mng
