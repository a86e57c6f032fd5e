// What both tunnel protocols share: a thin owner of a link (how the tunnel comes up and goes
// down, TunnelLink.h) and a multiplexer (what it carries, TunnelMux.h), with the operations of
// the tunnel manager contract on top. A protocol supplies its wire format and set-up details as
// an ITunnelProtocol.
//
// Threads: the session's threads call the operations; the link's control thread (CLinkReader)
// dispatches the gateway's messages and runs the one loss path; listeners and relays run inside
// the multiplexer. Locks: the link's and the multiplexer's (their headers list them), and
// m_OnCloseLock for the loss callback alone.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Window.h"
#include "tunnel/LinkReader.h"
#include "tunnel/TCSProtocolBase.h"
#include "tunnel/TunnelLink.h"
#include "tunnel/TunnelMux.h"
#include "tunnel/TunnelOptions.h"
#include "tunnel/TunnelProtocol.h"

namespace vantrel {

class CAppMngCommon : public CAppMng {
 public:
  ~CAppMngCommon() override;

  // CAppMng
  void InitControlConnection() override;
  bool AddConn(const std::string& prmDestIP, int prmDestPort, int prmSrcPort, int& prmLocalPort,
               HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID, int securityRDPFlag,
               bool SSOFlag, bool SSPFlag) override;
  bool AddConn(const std::string& prmDestIP, int prmDestPort, int prmSrcPort, int& prmLocalPort,
               HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID, bool prmCloseAfterEmpty,
               int securityRDPFlag, bool SSOFlag, bool SSPFlag) override;
  bool AddConn(const std::string& prmDestIP, int prmDestPort, int prmSrcPort, int& prmLocalPort,
               HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
               TConnSendCallback prmSendCallback, int securityRDPFlag, bool SSOFlag,
               bool SSPFlag) override;
  bool AddConnHost(const std::string& prmDestHost, int prmDestPort, int prmSrcPort,
                   int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                   int securityRDPFlag, bool SSOFlag, bool SSPFlag) override;
  bool AddConnHost(const std::string& prmDestHost, int prmDestPort, int prmSrcPort,
                   int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                   bool prmCloseAfterEmpty, int securityRDPFlag, bool SSOFlag,
                   bool SSPFlag) override;
  void SendLogMsg(uint8_t prmLogLevel, const std::string& prmProtocol, uint32_t prmDest,
                  const std::string& prmDestName, const std::string& prmMsg) override;
  void ResetTimers() override;
  // A name longer than kMaxHostNameLen is not sent: kResolveNotYet at once.
  uint32_t ResolveHost(const std::string& prmHost) override;
  std::string GetUsername(bool prmNoAlt) override;
  std::string GetPassword(bool prmNoAlt) override;
  void GetTimers(uint32_t& prmIdleTime, uint32_t& prmLifetime) override;
  bool IsReady(int prmTO) override;
  bool IsConnected() override { return m_Link.ReadyEvent().IsSet(); }
  void RegisterOnClose(HWND prmWnd, uint32_t prmMsgID) override;
  void RegisterOnCloseCallback(TOnCloseCallback prmCallback) override;
  void CloseClientConns() override;
  std::string GatewayKeyFingerprint() const override { return m_Link.GatewayKeyFingerprint(); }

  // Ends every wait of the manager at once: a set-up in progress (connect, TLS handshake, the
  // tunnel reply) fails, requests return their failure values, the control thread stops and
  // nobody is told. Any thread, any number of times; the destructor still joins the threads.
  void Cancel();
  // The way to the gateway (proxies, dialogs, reply timeout) is set on the link before
  // InitControlConnection; the connections and requests (request timeout) on the multiplexer.
  CTunnelLink& Link() { return m_Link; }
  CTunnelMux& Mux() { return m_Mux; }
  // The Cookie header's value that opened the tunnel (the portal's cookie, not the session's).
  const std::string& GetSessCookie() const { return m_SPCookie; }

 protected:
  // prmProtocol is the derived manager itself: only its reference is kept here. prmOptions,
  // when given, holds the protocol settings, among them the alternative credentials that
  // GetUsername and GetPassword prefer.
  CAppMngCommon(ITunnelProtocol& prmProtocol, std::string prmSP, int prmSPPort,
                std::string prmSPCookie, std::string prmSessCookie, std::string prmModuleID,
                std::shared_ptr<TTunnelOptions> prmOptions);

  // Stops the control thread, listeners and connections; the most-derived destructor calls it
  // first so no thread runs into a half-destroyed object. Idempotent, never raises.
  void Shutdown();

  const std::string m_SP;
  const int m_SPPort;
  const std::string m_SessCookie;
  const std::string m_SPCookie;
  const std::string m_ModuleID;
  // Registered from the session's threads while the control thread may be reading them.
  std::atomic<HWND> m_OnCloseWnd{nullptr};
  std::atomic<uint32_t> m_OnCloseMsgID{0};
  // The protocol settings the session may change while the tunnel runs; none for a protocol
  // without them.
  const std::shared_ptr<TTunnelOptions> m_Options;

 private:
  ITunnelProtocol& m_Protocol;
  CTunnelLink m_Link;
  CTunnelMux m_Mux;
  CLinkReader m_Reader{m_Link};
  std::mutex m_OnCloseLock;  // m_OncloseCallback
  TOnCloseCallback m_OncloseCallback;
};

}  // namespace vantrel
