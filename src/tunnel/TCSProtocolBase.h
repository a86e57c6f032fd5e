// The tunnel manager contract: the one object through which the control talks to the gateway.
// The 17 operations keep their fixed slot order; both protocols implement all of them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "diag/NetAddress.h"
#include "platform/Window.h"

namespace vantrel {

// Filter on the bytes a forwarded connection read from its application, called before they go
// into the tunnel. It may change the bytes in place but not their count; returning true removes
// it from the connection (it is not called again). Called on the connection's relay thread.
using TConnSendCallback = std::function<bool(uint8_t* prmBuf, uint32_t prmLen)>;
// Called on the control thread after the control connection was lost and the window was told.
using TOnCloseCallback = std::function<void()>;

class CAppMng {
 public:
  virtual ~CAppMng() = default;

  // Raises EBaseException on failure.
  virtual void InitControlConnection() = 0;
  // The connection operations raise the listener-creation failures; false: nothing was created.
  virtual bool AddConn(const std::string& prmDestIP, int prmDestPort, int prmSrcPort,
                       int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                       int securityRDPFlag, bool SSOFlag, bool SSPFlag) = 0;
  virtual bool AddConn(const std::string& prmDestIP, int prmDestPort, int prmSrcPort,
                       int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                       bool prmCloseAfterEmpty, int securityRDPFlag, bool SSOFlag,
                       bool SSPFlag) = 0;
  virtual bool AddConn(const std::string& prmDestIP, int prmDestPort, int prmSrcPort,
                       int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                       TConnSendCallback prmSendCallback, int securityRDPFlag, bool SSOFlag,
                       bool SSPFlag) = 0;
  virtual bool AddConnHost(const std::string& prmDestHost, int prmDestPort, int prmSrcPort,
                           int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                           int securityRDPFlag, bool SSOFlag, bool SSPFlag) = 0;
  virtual bool AddConnHost(const std::string& prmDestHost, int prmDestPort, int prmSrcPort,
                           int& prmLocalPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmID,
                           bool prmCloseAfterEmpty, int securityRDPFlag, bool SSOFlag,
                           bool SSPFlag) = 0;
  virtual void SendLogMsg(uint8_t prmLogLevel, const std::string& prmProtocol, uint32_t prmDest,
                          const std::string& prmDestName, const std::string& prmMsg) = 0;
  virtual void ResetTimers() = 0;
  // Network byte order; kResolveNotFound or kResolveNotYet when not resolved.
  virtual uint32_t ResolveHost(const std::string& prmHost) = 0;
  virtual std::string GetUsername(bool prmNoAlt) = 0;
  virtual std::string GetPassword(bool prmNoAlt) = 0;
  virtual void GetTimers(uint32_t& prmIdleTime, uint32_t& prmLifetime) = 0;
  virtual bool IsReady(int prmTO) = 0;
  virtual bool IsConnected() = 0;
  virtual void RegisterOnClose(HWND prmWnd, uint32_t prmMsgID) = 0;
  virtual void RegisterOnCloseCallback(TOnCloseCallback prmCallback) = 0;
  virtual void CloseClientConns() = 0;

  // The fingerprint of the gateway key the control connection accepted (see tls/ServerTrust.h),
  // so that other connections to the gateway can insist on the same key; empty before.
  virtual std::string GatewayKeyFingerprint() const { return {}; }
};

}  // namespace vantrel
