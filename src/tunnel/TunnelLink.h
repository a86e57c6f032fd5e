// The link: how the tunnel to the gateway comes up and goes down, apart from what it carries. Its
// stages, in order: the way through the proxies (CProxyStage), the direct TCP connection
// (ConnectDirect), the TLS channel (CSSPI) and the tunnel request (RequestTunnel); then the
// control thread (CLinkReader) keeps it up until the gateway closes it or the owner stops it.
// Every stage ends early on the one Cancel.
//
// Locks: m_Lock guards the state's changes, the control socket's assignment and shutdown and the
// accepted gateway key; m_SendCS makes each group of whole messages one write. Order: m_SendCS
// before m_Lock (a writer whose write failed shuts the socket); nothing else is taken under
// m_Lock.
#pragma once

#include <sys/uio.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "diag/UniqueFd.h"
#include "platform/Dialogs.h"
#include "platform/Event.h"
#include "tunnel/ControlSource.h"
#include "tunnel/LinkStages.h"
#include "tunnel/SendGroup.h"
#include "tunnel/TunnelRequest.h"
#include "tunnel/TunnelState.h"

namespace vantrel {

class CTunnelLink : public ITunnelChannel {
 public:
  // Loads the security library: raises "Security library is already loaded" while another link
  // exists.
  CTunnelLink(std::string prmSP, int prmSPPort);
  // The owner has joined the control thread (CLinkReader) first.
  ~CTunnelLink() override;
  CTunnelLink(const CTunnelLink&) = delete;
  CTunnelLink& operator=(const CTunnelLink&) = delete;

  // Runs every stage up to Opened on the caller's thread. Raises the failing stage's message;
  // the half-open connection is closed and the link is Created again.
  void Open(ILinkProtocol& prmProtocol);
  // Ends every wait of the link at once: a stage in progress fails, the control thread stops and
  // the state becomes Stopping. Any thread, any number of times.
  void Cancel();
  // The gateway counts as lost (prmWhy goes to the log): the control thread reads the end of the
  // connection and runs the loss path. Nothing when the link is not live.
  void Lose(const std::string& prmWhy);
  // Shuts the control socket down in both directions so every read or wait on it ends.
  void Shut();
  // After the control thread has ended: closes the socket and the channel.
  void Close();

  // The one place the state changes. Refused (false, nothing logged) when prmTo cannot follow
  // the current state; otherwise logs "AppMng state <from> -> <to>" and sets or resets the
  // events that waits depend on. Any thread.
  bool SetState(TTunnelState prmTo);
  TTunnelState State() const { return m_State; }
  // Signalled while Up; kept as it was when the control thread halts or the link stops.
  TEvent& ReadyEvent() { return m_ReadyEvent; }
  // Signalled unless the link is live: a request waiting for an answer ends on it.
  TEvent& LostEvent() { return m_LostEvent; }
  // Signalled once the link is stopping: every wait of a connection or a check ends on it.
  const TEvent& StopEvent() const { return m_StopEvent; }

  // Whole messages, written together with whatever other threads have ready; returns once they
  // are written. A failure is logged after prmErrPrefix, loses the link and gives false.
  bool Send(const uint8_t* prmBytes, size_t prmLen, const char* prmErrPrefix);
  // ITunnelChannel, during the tunnel request stage.
  bool Write(const std::string& prmBytes) override;
  bool ReadReply(char* prmBuf, int prmLen, bool prmOneRecord, int& prmGot) override;
  // What the control thread reads; valid from Opened until Close.
  CTlsControlSource Source() {
    return CTlsControlSource(*m_SSPI, m_ControlSock.Get(), m_StopEvent);
  }

  std::string GatewayKeyFingerprint() const;
  // The gateway's address when the link was made directly; empty through a proxy.
  const std::string& GatewayIp() const { return m_SPIp; }
  CProxyStage& Proxies() { return m_Proxies; }
  // Shows the proxy credentials dialog and the client-certificate choice; borrowed, must outlive
  // the link. Unset: nobody is asked (the dialog counts as cancelled).
  void SetDialogs(IDialogs* prmDialogs) { m_Dialogs = prmDialogs; }
  IDialogs& Dialogs() { return m_Dialogs != nullptr ? *m_Dialogs : m_NoDialogs; }
  // How long the tunnel request's reply may take (3 minutes unless changed).
  void SetReplyTimeout(int prmTimeoutMs) { m_ReplyTimeoutMs = prmTimeoutMs; }

 private:
  // The proxy stage, then the direct one when no proxy carries the connection.
  TUniqueFd ConnectSocket();
  // The send group's write: the parts in one SendSecV.
  bool WriteParts(const iovec* prmParts, size_t prmCount, std::string& prmError);

  const std::string m_SP;
  const int m_SPPort;
  std::string m_SPIp;
  mutable std::mutex m_Lock;
  std::atomic<TTunnelState> m_State{TTunnelState::Created};  // written under m_Lock
  TUniqueFd m_ControlSock;                                   // assigned and shut under m_Lock
  std::string m_GatewayKey;                                  // under m_Lock
  TEvent m_ReadyEvent{true};
  TEvent m_LostEvent{true, true};
  TEvent m_StopEvent{true};
  std::recursive_mutex m_SendCS;
  TSendGroup m_SendGroup{m_SendCS,
                         [this](const iovec* prmParts, size_t prmCount, std::string& prmError) {
                           return WriteParts(prmParts, prmCount, prmError);
                         }};
  IDialogs* m_Dialogs = nullptr;
  TLoggingDialogs m_NoDialogs;
  CProxyStage m_Proxies{[this]() -> IDialogs& { return Dialogs(); }};
  // Answers the gateway's request for a client certificate from the user's store; the channel
  // borrows it during its handshake.
  std::unique_ptr<ICertificateChooser> m_CertChooser;
  std::unique_ptr<CSSPI> m_SSPI;
  int m_ReplyTimeoutMs = 180000;
};

}  // namespace vantrel
