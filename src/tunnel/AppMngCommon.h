// What both tunnel protocols share: the connection table and identifier search, the listeners,
// the send lock, the requests with an answer, the control thread's loop, the set-up steps of the
// control connection and the bounded destruction. A protocol supplies its wire format, its
// reactions to the gateway's messages and its set-up details through the hooks below.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diag/UniqueFd.h"
#include "platform/Event.h"
#include "platform/Window.h"
#include "tls/CertChooser.h"
#include "tls/sspi.h"
#include "tunnel/ConnHost.h"
#include "tunnel/ConnTable.h"
#include "tunnel/ListenRequest.h"
#include "tunnel/Listener.h"
#include "tunnel/MessageParser.h"
#include "tunnel/ProxySelector.h"
#include "tunnel/SendGroup.h"
#include "tunnel/TCSProtocolBase.h"
#include "tunnel/TunnelState.h"

namespace vantrel {

class CAppMngCommon : public CAppMng,
                      public IConnHost,
                      protected IControlDispatch,
                      protected IDataRunSink {
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
  bool IsConnected() override { return m_ReadyEvent.IsSet(); }
  void RegisterOnClose(HWND prmWnd, uint32_t prmMsgID) override;
  void RegisterOnCloseCallback(TOnCloseCallback prmCallback) override;
  void CloseClientConns() override;
  std::string GatewayKeyFingerprint() const override;

  // IConnHost
  bool SendData(int prmID, const std::string& prmDestIP, int prmDestPort, TDataBuf& prmBuf,
                int prmLen) override;
  bool SendDataBatch(int prmID, const std::string& prmDestIP, int prmDestPort, TDataBatch& prmBatch,
                     size_t prmLen) override;
  // The protocol's, for relays and the control thread's reader alike.
  int HeaderSize() const override = 0;
  void CloseConn(CConn& prmConn, bool prmSignalSP, bool prmFreeConn) override;
  void IncConnCount() override;
  int CreateConn(std::shared_ptr<CConn> prmConn) override;
  const TEvent& StopEvent() const override { return m_StopEvent; }

  // What every connection operation comes down to: creates and starts a listener for
  // prmRequest; prmLocalPort receives the bound port. Raises the listener-creation failures;
  // false once the manager is shutting down.
  bool Listen(TListenRequest prmRequest, int& prmLocalPort);

  // The manual proxy; the control connection tries it first and goes direct when it fails.
  void SetProxy(const std::string& prmProxy, int prmProxyPort);
  // Set before InitControlConnection. The discovery is DetectProxyForHost unless replaced.
  void SetProxyDiscovery(TDetectProxy prmDetect);
  // One CONNECT attempt: the legacy procedure unless the protocol sets its own.
  void SetProxyConnector(TConnectThroughProxy prmConnect);
  // Shows the proxy credentials dialog and the client-certificate choice; borrowed, must outlive
  // the manager. Unset: nobody is asked (the dialog counts as cancelled).
  void SetDialogs(IDialogs* prmDialogs) { m_Dialogs = prmDialogs; }
  // How long the tunnel request's reply may take (3 minutes unless changed).
  void SetReplyTimeout(int prmTimeoutMs) { m_ReplyTimeoutMs = prmTimeoutMs; }
  // How long a request may wait for its answer; a gateway silent for longer counts as lost.
  void SetRequestTimeout(int prmTimeoutMs) { m_RequestTimeoutMs = prmTimeoutMs; }
  static constexpr int kDefaultRequestTimeoutMs = 30000;

  // Ends every wait of the manager at once: a set-up in progress (connect, TLS handshake, the
  // tunnel reply) fails, requests return their failure values, the control thread stops and
  // nobody is told. Any thread, any number of times; the destructor still joins the threads.
  void Cancel();

  // The cookie header value the gateway is sent: the portal's cookie, not the session identifier.
  const std::string& GetSPCookie() const { return m_SPCookie; }
  int GetConnsCount() const;
  // The connection registered under prmID, or none.
  std::shared_ptr<CConn> GetConn(int prmID) const;

 protected:
  CAppMngCommon(std::string prmSP, int prmSPPort, std::string prmSPCookie,
                std::string prmSessCookie, std::string prmModuleID);

  // Set-up hooks.
  virtual int DeviceType() const = 0;
  virtual std::string TunnelRequest() const = 0;
  // Reads the reply that the gateway sent to the tunnel request; true when it opens the tunnel.
  virtual bool CheckReply() = 0;
  virtual void SendInitMsg() = 0;
  // Wire hooks. EncodeHdr writes HeaderSize() bytes.
  virtual void EncodeHdr(const TLegacyAppHeader& prmHdr, uint8_t* prmOut) const = 0;
  // Whether the end of a relay is told to the gateway.
  virtual bool SignalsClose(bool prmSignalSP) const = 0;
  // Called once per second without gateway traffic; may send a keepalive and reset the count.
  virtual void OnIdleSecond(int& prmIdleCount) = 0;
  // After the common loss handling (ready reset, requests released): tell whoever listens.
  virtual void NotifyLost() = 0;
  // The alternative user name (prmUser) or password, when the protocol keeps one.
  virtual bool AltCredential(bool prmUser, std::string& prmValue) const;

  // IDataRunSink
  void OnDataRun(int prmID, const iovec* prmParts, size_t prmCount, size_t prmBytes) override;
  // The second reactions both protocols share: a connection's close request, the name and
  // password answers and the resolve answer. False when prmHdr is none of them.
  bool OnSharedMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload, size_t prmLen);

  // Whole messages, written together with whatever other threads have ready (the send group);
  // returns once they are written. A failure is logged after prmErrPrefix and gives false.
  bool SendWire(const uint8_t* prmBytes, size_t prmLen, const char* prmErrPrefix);
  bool SendMsg(const TLegacyAppHeader& prmHdr, const void* prmPayload = nullptr, size_t prmLen = 0,
               const char* prmErrPrefix = "SendMsg Exception (");
  bool SendHeaderOnly(uint8_t prmCode, const char* prmErrPrefix = "SendMsg Exception (");
  // The one place the tunnel's state changes. Refused (false, nothing logged) when prmTo cannot
  // follow the current state; otherwise logs "AppMng state <from> -> <to>" and sets or resets
  // the events that waits depend on. Any thread.
  bool SetState(TTunnelState prmTo);
  TTunnelState State() const { return m_State; }
  // Answers from the control thread.
  void AnswerHost(uint32_t prmNetAddr);
  void AnswerName(bool prmUser, std::string prmName);
  void AnswerTimers(uint32_t prmIdle, uint32_t prmLife);
  // Stops the control thread, listeners and connections; the most-derived destructor calls it
  // first so no thread runs into a half-destroyed object. Idempotent, never raises.
  void Shutdown();
  // Reads the tunnel reply with RecvSec2 (one TLS record) or RecvSec (whatever is there),
  // retrying until the deadline while the channel has not produced a whole record yet.
  // prmGot, when given, receives the byte count.
  bool ReadReply(char* prmBuf, int prmLen, bool prmOneRecord, int* prmGot = nullptr);
  CSSPI* Channel() const { return m_SSPI.get(); }
  // Where the proxy procedures ask for credentials.
  IDialogs& ProxyDialogs();
  int ControlSock() const { return m_ControlSock.Get(); }

  std::string m_SP;
  std::string m_SPIp;
  int m_SPPort;
  std::string m_SessCookie;
  std::string m_SPCookie;
  std::string m_ModuleID;
  // Events derived from m_State (SetState keeps them in step), for waits that poll:
  // signalled while Up; kept as it was when the control thread halts or the manager stops.
  TEvent m_ReadyEvent{true};
  // Signalled unless the control connection is live: a request waiting for an answer ends on it.
  TEvent m_LostEvent{true, true};
  // Signalled once the manager is stopping: every wait of a connection or a check ends on it.
  TEvent m_StopEvent{true};
  std::recursive_mutex m_SendCS;
  // Every message to the gateway goes through it, under m_SendCS.
  TSendGroup m_SendGroup{m_SendCS,
                         [this](const iovec* prmParts, size_t prmCount, std::string& prmError) {
                           return WriteParts(prmParts, prmCount, prmError);
                         }};
  mutable std::recursive_mutex m_ConnsCS;
  // Registered from the session's threads while the control thread may be reading them.
  std::atomic<HWND> m_OnCloseWnd{nullptr};
  std::atomic<uint32_t> m_OnCloseMsgID{0};
  std::mutex m_OnCloseLock;
  TOnCloseCallback m_OncloseCallback;

 private:
  template <typename T>
  struct TRequest {
    std::recursive_mutex CS;
    TEvent Event{true};
    std::mutex AnswerLock;
    T Answer{};
  };
  template <typename T, typename TSend>
  T Ask(TRequest<T>& prmReq, T prmFailure, TSend prmSend);
  template <typename T>
  void Answer(TRequest<T>& prmReq, T prmValue);

  // The group's write: the parts in one SendSecV.
  bool WriteParts(const iovec* prmParts, size_t prmCount, std::string& prmError);
  // The set-up steps up to the init message; raises on failure.
  void OpenControlConnection();
  TUniqueFd ConnectControlSocket();
  TUniqueFd ConnectDirect();
  // connect() that ends early on the stop event; 0 or the error.
  int ConnectCancellable(int prmSock, const sockaddr_in& prmAddr);
  void CloseControlSock();
  void StartControlThd();
  void ControlConnThd();
  void ControlLoop();
  // The one loss path: the tunnel becomes Lost (requests end), the gateway's side is shut,
  // connections can no longer be accepted, and the window and the callback are told.
  // prmWhy goes to the log.
  void OnControlLost(const std::string& prmWhy);
  // Makes the control thread see the connection as closed, which runs the loss path.
  void LoseControl(const std::string& prmWhy);
  // Shuts the control socket down in both directions so every read or wait on it ends.
  void ShutControlSock();
  void StopListeners();
  // Stops every registered connection and waits for the relay threads.
  void StopConns();
  void JoinRelays(bool prmOnlyFinished);

  struct TRelay {
    std::thread Thd;
    std::shared_ptr<TEvent> Done;
    HWND Wnd;
  };

  TUniqueFd m_ControlSock;
  // Guards m_ControlSock's assignment during set-up against Cancel from another thread.
  std::mutex m_SockLock;
  // Written only by SetState, under m_StateLock; read anywhere.
  std::atomic<TTunnelState> m_State{TTunnelState::Created};
  std::mutex m_StateLock;
  // Answers the gateway's request for a client certificate from the user's store; the channel
  // borrows it during its handshake.
  std::unique_ptr<ICertificateChooser> m_CertChooser;
  std::unique_ptr<CSSPI> m_SSPI;
  std::thread m_ControlThd;
  // Signalled when the control thread has returned: the destructor waits on it while handling
  // the window's messages (the thread may be sending one), then joins.
  TEvent m_ControlDone{true};
  TConnTable m_Conns;
  int m_ConnsCount = 0;
  std::mutex m_RelaysLock;
  std::vector<TRelay> m_Relays;
  std::vector<std::unique_ptr<CListener>> m_Listeners;
  TRequest<uint32_t> m_HostResolution;
  TRequest<std::string> m_GetUserName;
  TRequest<std::string> m_GetPassword;
  TRequest<std::pair<uint32_t, uint32_t>> m_GetTimers;
  bool m_ManualProxy = false;
  std::string m_Proxy;
  int m_ProxyPort = 80;
  TDetectProxy m_DetectProxy;
  TConnectThroughProxy m_ProxyConnect;
  IDialogs* m_Dialogs = nullptr;
  TLoggingDialogs m_NoDialogs;
  mutable std::mutex m_GatewayKeyLock;
  std::string m_GatewayKey;
  int m_ReplyTimeoutMs = 180000;
  int m_RequestTimeoutMs = kDefaultRequestTimeoutMs;
  bool m_LibraryLoaded = false;
};

}  // namespace vantrel
