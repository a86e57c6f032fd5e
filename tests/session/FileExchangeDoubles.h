// Stand-ins around the file exchange: a tunnel whose listeners all lead to one local test server
// (recording what was asked of it) and a session host with a real store and stop event.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "config/DbMng.h"
#include "platform/Event.h"
#include "session/FileExchangeHost.h"
#include "session/MonitorsRecordingUI.h"
#include "support/NullTunnel.h"

namespace vantrel::test {

class TListenerTunnel : public TNullTunnel {
 public:
  int TargetPort = 0;        // the local port every AddConn hands out
  bool RefuseConns = false;  // AddConn answers false
  uint32_t Resolved = 0;     // ResolveHost's answer (network byte order)
  std::string UserName = "anna";
  std::string GatewayKey;  // the key the control connection accepted

  std::string GatewayKeyFingerprint() const override { return GatewayKey; }

  std::vector<std::string> Conns() {
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Conns;
  }
  std::vector<std::string> Resolves() {
    std::lock_guard<std::mutex> g(m_Lock);
    return m_Resolves;
  }

  using TNullTunnel::AddConn;
  bool AddConn(const std::string& prmDestIP, int prmDestPort, int, int& prmLocalPort, HWND,
               uint32_t, int, int, bool, bool) override {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Conns.push_back(prmDestIP + ":" + std::to_string(prmDestPort));
    prmLocalPort = TargetPort;
    return !RefuseConns;
  }
  uint32_t ResolveHost(const std::string& prmHost) override {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Resolves.push_back(prmHost);
    return Resolved;
  }
  std::string GetUsername(bool) override { return UserName; }

 private:
  std::mutex m_Lock;
  std::vector<std::string> m_Conns;
  std::vector<std::string> m_Resolves;
};

class TFileExchangeHostDouble : public IFileExchangeHost {
 public:
  TListenerTunnel Tunnel;
  bool HasTunnel = true;
  CAppMng* RealTunnel = nullptr;  // used instead of Tunnel when set
  TDBMng Store;
  TRecordingUI UI;
  TEvent Stop{true};
  HWND Window = nullptr;
  std::string SP = "127.0.0.1";
  int SPPort = 443;
  std::string Cookie = "ZQsession=abc123";
  std::string ModID = "MOD7";
  int PlatformType = 2;

  CAppMng* GetProtocol() override {
    if (!HasTunnel) return nullptr;
    return RealTunnel != nullptr ? RealTunnel : &Tunnel;
  }
  TDBMng& GetDBMng() override { return Store; }
  ITCSUserInterface& GetUI() override { return UI; }
  HWND GetHWND() override { return Window; }
  std::string GetSP() override { return SP; }
  int GetSPPort() override { return SPPort; }
  std::string GetSPCookie() override { return Cookie; }
  std::string GetModID() override { return ModID; }
  int GetPlatformType() override { return PlatformType; }
  bool InDestruction() override { return Stop.IsSet(); }
  TEvent& GetStopEvent() override { return Stop; }
};

}  // namespace vantrel::test
