// A tunnel manager that does nothing: every listener is refused, every question answered empty,
// and the tunnel counts as up. Test doubles derive from it and override what they play.
#pragma once

#include <string>

#include "tunnel/TCSProtocolBase.h"

namespace vantrel::test {

class TNullTunnel : public CAppMng {
 public:
  void InitControlConnection() override {}
  bool AddConn(const std::string&, int, int, int&, HWND, uint32_t, int, int, bool, bool) override {
    return false;
  }
  bool AddConn(const std::string&, int, int, int&, HWND, uint32_t, int, bool, int, bool,
               bool) override {
    return false;
  }
  bool AddConn(const std::string&, int, int, int&, HWND, uint32_t, int, TConnSendCallback, int,
               bool, bool) override {
    return false;
  }
  bool AddConnHost(const std::string&, int, int, int&, HWND, uint32_t, int, int, bool,
                   bool) override {
    return false;
  }
  bool AddConnHost(const std::string&, int, int, int&, HWND, uint32_t, int, bool, int, bool,
                   bool) override {
    return false;
  }
  void SendLogMsg(uint8_t, const std::string&, uint32_t, const std::string&,
                  const std::string&) override {}
  void ResetTimers() override {}
  uint32_t ResolveHost(const std::string&) override { return 0; }
  std::string GetUsername(bool) override { return ""; }
  std::string GetPassword(bool) override { return ""; }
  void GetTimers(uint32_t&, uint32_t&) override {}
  bool IsReady(int) override { return true; }
  bool IsConnected() override { return true; }
  void RegisterOnClose(HWND, uint32_t) override {}
  void RegisterOnCloseCallback(TOnCloseCallback) override {}
  void CloseClientConns() override {}
};

}  // namespace vantrel::test
