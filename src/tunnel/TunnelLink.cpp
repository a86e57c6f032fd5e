#include "tunnel/TunnelLink.h"

#include <sys/socket.h>

#include <chrono>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"

namespace vantrel {

CTunnelLink::CTunnelLink(std::string prmSP, int prmSPPort)
    : m_SP(std::move(prmSP)), m_SPPort(prmSPPort) {
  ResetStreamSizes();
  LoadSecurityLibrary();
}

CTunnelLink::~CTunnelLink() {
  Close();
  UnloadSecurityLibrary();
}

bool CTunnelLink::SetState(TTunnelState prmTo) {
  std::lock_guard g(m_Lock);
  const TTunnelState from = m_State;
  if (from == prmTo || !IsTunnelTransitionAllowed(from, prmTo)) return false;
  m_State = prmTo;
  WriteDebugLog(std::string("AppMng state ") + TunnelStateName(from) + " -> " +
                TunnelStateName(prmTo));
  if (prmTo == TTunnelState::Up)
    m_ReadyEvent.Set();
  else if (prmTo == TTunnelState::Lost || prmTo == TTunnelState::Created)
    m_ReadyEvent.Reset();
  if (IsTunnelLive(prmTo))
    m_LostEvent.Reset();
  else
    m_LostEvent.Set();
  if (prmTo == TTunnelState::Stopping) m_StopEvent.Set();
  return true;
}

void CTunnelLink::Cancel() {
  // Wakes whatever waits on the socket (the handshake, the reply, the control thread); the
  // descriptor itself is closed once the threads are gone.
  if (SetState(TTunnelState::Stopping)) Shut();
}

void CTunnelLink::Shut() {
  std::lock_guard g(m_Lock);
  if (m_ControlSock) ::shutdown(m_ControlSock.Get(), SHUT_RDWR);
}

void CTunnelLink::Close() {
  {
    std::lock_guard g(m_Lock);
    m_ControlSock.Reset();
  }
  m_SSPI.reset();
}

void CTunnelLink::Lose(const std::string& prmWhy) {
  if (!IsTunnelLive(m_State)) return;
  WriteDebugLog("AppMng - " + prmWhy + ": the gateway counts as lost");
  Shut();
}

void CTunnelLink::Open(ILinkProtocol& prmProtocol) {
  if (!SetState(TTunnelState::Proxying))
    throw EBaseException(std::string("InitControlConnection - tunnel is ") +
                         TunnelStateName(m_State));
  try {
    TUniqueFd connected = ConnectSocket();
    {
      std::lock_guard g(m_Lock);
      m_ControlSock = std::move(connected);
    }
    // A Cancel before the socket was stored could not shut it: the set-up ends here instead.
    if (!SetState(TTunnelState::Securing))
      throw EBaseException("Failed to connect to gateway (cancelled)");
    TTlsChannel tls = SecureChannel(m_ControlSock.Get(), m_SP, m_SPPort, prmProtocol.DeviceType(),
                                    Dialogs(), m_Dialogs, m_StopEvent);
    m_CertChooser = std::move(tls.Chooser);
    m_SSPI = std::move(tls.SSPI);
    {
      std::lock_guard g(m_Lock);
      m_GatewayKey = m_SSPI->AcceptedKeyFingerprint();
    }
    SetState(TTunnelState::Requesting);
    RequestTunnel(*this, prmProtocol);
  } catch (...) {
    // Whatever failed, the half-open connection goes: the link is as it was created.
    Close();
    SetState(TTunnelState::Created);
    throw;
  }
  SetState(TTunnelState::Opened);
}

TUniqueFd CTunnelLink::ConnectSocket() {
  TUniqueFd sock = m_Proxies.Open(m_SP, m_SPPort, m_StopEvent.Fd());
  if (sock) return sock;
  // Refused only when cancelled; the direct stage then fails at once with its own message.
  SetState(TTunnelState::Connecting);
  return ConnectDirect(m_SP, m_SPPort, m_StopEvent.Fd(), m_SPIp);
}

bool CTunnelLink::Write(const std::string& prmBytes) {
  return m_SSPI->SendSec(m_ControlSock.Get(), prmBytes.data(), static_cast<int>(prmBytes.size()));
}

bool CTunnelLink::ReadReply(char* prmBuf, int prmLen, bool prmOneRecord, int& prmGot) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_ReplyTimeoutMs);
  CTlsControlSource source = Source();
  for (;;) {
    if (source.Wait(MsLeft(deadline)) != IControlSource::TWait::Ready)
      throw EBaseException("Failed to establish control connection");
    int got = 0;
    try {
      if (prmOneRecord)
        m_SSPI->RecvSec2(m_ControlSock.Get(), prmBuf, prmLen, got);
      else
        m_SSPI->RecvSec(m_ControlSock.Get(), prmBuf, prmLen, got);
    } catch (const EBaseException& e) {
      WriteDebugLog("IsConnEstablished Exception (" + e.GetMsg() + ")");
      return false;
    }
    prmGot = got;
    if (got > 0) return true;
    // Only part of a record so far; a closed connection has nothing more to give.
    char c;
    if (recv(m_ControlSock.Get(), &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return false;
  }
}

std::string CTunnelLink::GatewayKeyFingerprint() const {
  std::lock_guard g(m_Lock);
  return m_GatewayKey;
}

bool CTunnelLink::Send(const uint8_t* prmBytes, size_t prmLen, const char* prmErrPrefix) {
  std::string error;
  if (m_SendGroup.Send(prmBytes, prmLen, error)) return true;
  if (!error.empty()) WriteDebugLog(prmErrPrefix + error + ")");
  return false;
}

bool CTunnelLink::WriteParts(const iovec* prmParts, size_t prmCount, std::string& prmError) {
  if (!m_SSPI) return false;
  try {
    if (m_SSPI->SendSecV(m_ControlSock.Get(), prmParts, prmCount)) return true;
  } catch (const EBaseException& e) {
    prmError = e.GetMsg();
  }
  // A record may have gone out in part: nothing sent after it could be read by the gateway.
  Lose("sending failed");
  return false;
}

}  // namespace vantrel
