// Test doubles of the ICA launches: a tunnel that records the listeners asked of it and a
// scripted XML service.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "citrix/CitrixService.h"
#include "support/NullTunnel.h"

namespace vantrel::test {

class TRecordingTunnel : public TNullTunnel {
 public:
  struct TListen {
    std::string Dest;  // address:port
    int LocalPort = 0;
    TConnSendCallback Filter;
  };
  bool Refuse = false;
  uint32_t Resolved = 0;  // ResolveHost's answer
  std::vector<TListen> Listens;
  std::vector<std::string> Logs;

  using TNullTunnel::AddConn;
  bool AddConn(const std::string& prmDestIP, int prmDestPort, int, int& prmLocalPort, HWND,
               uint32_t, int, int, bool, bool) override {
    return Listen(prmDestIP, prmDestPort, prmLocalPort, nullptr);
  }
  bool AddConn(const std::string& prmDestIP, int prmDestPort, int, int& prmLocalPort, HWND,
               uint32_t, int, TConnSendCallback prmFilter, int, bool, bool) override {
    return Listen(prmDestIP, prmDestPort, prmLocalPort, std::move(prmFilter));
  }
  void SendLogMsg(uint8_t, const std::string&, uint32_t, const std::string&,
                  const std::string& prmMsg) override {
    Logs.push_back(prmMsg);
  }
  uint32_t ResolveHost(const std::string&) override { return Resolved; }

 private:
  bool Listen(const std::string& prmIP, int prmPort, int& prmLocalPort, TConnSendCallback prmF) {
    if (Refuse) return false;
    prmLocalPort = 50001 + static_cast<int>(Listens.size());
    Listens.push_back({prmIP + ":" + std::to_string(prmPort), prmLocalPort, std::move(prmF)});
    return true;
  }
};

class TScriptedService : public ICitrixService {
 public:
  struct TAppAnswer {
    uint8_t Code = kCitrixOK;
    std::string ServerAddress, CGPAddress, Tag1, Tag2;
  };
  std::map<std::string, TAppAnswer> AppAnswers;  // by server; missing: kCitrixNoReply
  uint8_t TicketCode = kCitrixOK;
  std::string Ticket = "TKT";
  uint8_t DesktopCode = kCitrixOK;
  TDesktopAddress Desktop;
  std::vector<std::string> TicketRequests;  // server + " " + tag

  uint8_t GetAppAddress(CAppMng*, const std::string& prmServer, const std::string&,
                        const std::string&, const std::string&, const std::string&,
                        std::string& prmServerAddress, std::string& prmCGPAddress,
                        std::string& prmTag1, std::string& prmTag2) override {
    auto it = AppAnswers.find(prmServer);
    if (it == AppAnswers.end()) return kCitrixNoReply;
    prmServerAddress = it->second.ServerAddress;
    prmCGPAddress = it->second.CGPAddress;
    prmTag1 = it->second.Tag1;
    prmTag2 = it->second.Tag2;
    return it->second.Code;
  }
  uint8_t GetLogonTicket(CAppMng*, const std::string& prmServer, const std::string&,
                         const std::string& prmTag, const std::string&, const std::string&,
                         std::string& prmTicket) override {
    TicketRequests.push_back(prmServer + " " + prmTag);
    prmTicket = Ticket;
    return TicketCode;
  }
  uint8_t RequestDesktopAddress(CAppMng*, const std::string&, const std::string&,
                                const std::string&, const std::string&, const std::string&,
                                TDesktopAddress& prmAddress) override {
    prmAddress = Desktop;
    return DesktopCode;
  }
};

}  // namespace vantrel::test
