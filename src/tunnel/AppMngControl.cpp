// The control connection of the tunnel managers: set-up, the control thread and its loss
// handling, and every message written to the gateway.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "diag/TextCodecs.h"
#include "diag/ThreadEntry.h"
#include "platform/Resolver.h"
#include "proxy/ProxyTransport.h"
#include "tls/DlgSelectCert.h"
#include "tunnel/AppMngCommon.h"
#include "tunnel/Conn.h"
#include "tunnel/ControlSource.h"
#include "tunnel/MessageParser.h"

namespace vantrel {

namespace {
constexpr int kControlWaitMs = 1000;
// What the control thread takes from the channel at once.
constexpr size_t kControlReadSize = 64 * 1024;
}  // namespace

void CAppMngCommon::InitControlConnection() {
  if (!SetState(TTunnelState::Connecting))
    throw EBaseException(std::string("InitControlConnection - tunnel is ") +
                         TunnelStateName(m_State));
  try {
    OpenControlConnection();
  } catch (...) {
    // Whatever failed, the half-open connection goes: the manager is as it was created.
    CloseControlSock();
    SetState(TTunnelState::Created);
    throw;
  }
  SetState(TTunnelState::Opened);
  try {
    StartControlThd();
  } catch (...) {
    SetState(TTunnelState::Halted);
    throw;
  }
}

void CAppMngCommon::OpenControlConnection() {
  {
    TUniqueFd connected = ConnectControlSocket();
    std::lock_guard g(m_SockLock);
    m_ControlSock = std::move(connected);
  }
  // A Cancel before the socket was stored could not shut it: the set-up ends here instead.
  if (IsTunnelStopping(m_State)) throw EBaseException("Failed to connect to gateway (cancelled)");
  const int sock = m_ControlSock.Get();
  m_SSPI = std::make_unique<CSSPI>(DeviceType());
  // Without dialogs of its own the manager's logging ones stand in: a single unprotected
  // certificate is still used, every question counts as cancelled, and the no-certificate text
  // only reaches the debug log.
  // A release during the handshake ends the store's reading too (it may be slow: files with
  // costly key derivation, passphrases, tokens).
  TStopCheck stop = [this] { return m_StopEvent.IsSet(); };
  m_CertChooser = std::make_unique<TCertificateChooser>(
      ProxyDialogs(), [stop](IDialogs& prmDialogs) { return OpenPersonalStore(prmDialogs, stop); },
      stop);
  m_SSPI->SetCertificateChooser(m_CertChooser.get());
  m_SSPI->SetDialogs(m_Dialogs);
  // Without a user to ask, a certificate that cannot be verified is refused.
  m_SSPI->SetGatewayTrust(m_SPPort, m_Dialogs);
  if (!m_SSPI->PerformHandshake(sock, m_SP, DeviceType()))
    throw EBaseException("Failed to connect to gateway (SSL failed)");
  {
    std::lock_guard g(m_GatewayKeyLock);
    m_GatewayKey = m_SSPI->AcceptedKeyFingerprint();
  }
  fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) | O_NONBLOCK);
  // Every message goes out as one whole TLS record already; holding small ones back until the
  // gateway acknowledges the last (Nagle) only adds its delayed-ACK time to each exchange.
  int one = 1;
  setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  try {
    std::string req = TunnelRequest();
    if (!m_SSPI->SendSec(sock, req.data(), static_cast<int>(req.size())))
      throw EBaseException("send failed");
  } catch (...) {
    throw EBaseException("Failed to send init message");
  }
  if (!CheckReply()) throw EBaseException("Gateway did not open control connection");
  SendInitMsg();
}

bool CAppMngCommon::ReadReply(char* prmBuf, int prmLen, bool prmOneRecord, int* prmGot) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_ReplyTimeoutMs);
  CTlsControlSource source(*m_SSPI, m_ControlSock.Get(), m_StopEvent);
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
    if (prmGot != nullptr) *prmGot = got;
    if (got > 0) return true;
    // Only part of a record so far; a closed connection has nothing more to give.
    char c;
    if (recv(m_ControlSock.Get(), &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0) return false;
  }
}

std::string CAppMngCommon::GatewayKeyFingerprint() const {
  std::lock_guard g(m_GatewayKeyLock);
  return m_GatewayKey;
}

TUniqueFd CAppMngCommon::ConnectControlSocket() {
  TProxyStopScope stop(m_StopEvent.Fd());
  TUniqueFd sock = OpenThroughProxies({m_ManualProxy, m_Proxy, m_ProxyPort}, m_SP, m_SPPort,
                                      m_ProxyConnect, m_DetectProxy);
  return sock ? std::move(sock) : ConnectDirect();
}

TUniqueFd CAppMngCommon::ConnectDirect() {
  TUniqueFd sock(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!sock) throw EBaseException::CreateFmt("Failed to create the control socket %d", errno);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  int rc = 0;
  switch (ResolveIPv4(m_SP, addr.sin_addr, {m_StopEvent.Fd()}, &rc)) {
    case TResolveResult::Resolved:
      break;
    case TResolveResult::Cancelled:
      throw EBaseException::CreateFmt("Failed to connect to gateway (%d)", ECANCELED);
    default:
      throw EBaseException::CreateFmt("Failed to resolve host %s (%d)", m_SP, rc);
  }
  addr.sin_port = htons(static_cast<uint16_t>(m_SPPort));
  const int err = ConnectCancellable(sock.Get(), addr);
  if (err != 0) throw EBaseException::CreateFmt("Failed to connect to gateway (%d)", err);
  m_SPIp = FormatNetAddress(addr.sin_addr.s_addr);
  return sock;
}

int CAppMngCommon::ConnectCancellable(int prmSock, const sockaddr_in& prmAddr) {
  // Non-blocking while connecting so that Cancel ends the wait; the system's own connect
  // timeout still bounds it otherwise.
  const int flags = fcntl(prmSock, F_GETFL);
  fcntl(prmSock, F_SETFL, flags | O_NONBLOCK);
  int err = 0;
  if (connect(prmSock, reinterpret_cast<const sockaddr*>(&prmAddr), sizeof prmAddr) != 0) {
    err = errno;
    while (err == EINPROGRESS || err == EINTR) {
      pollfd fds[2] = {{prmSock, POLLOUT, 0}, {m_StopEvent.Fd(), POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents & POLLIN) return ECANCELED;
      if (fds[0].revents == 0) continue;
      socklen_t len = sizeof err;
      if (getsockopt(prmSock, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    }
  }
  fcntl(prmSock, F_SETFL, flags);
  return err;
}

// Control thread

void CAppMngCommon::StartControlThd() {
  m_ControlThd = std::thread([this] { ControlConnThd(); });
}

void CAppMngCommon::ControlConnThd() {
  RunGuarded("_ControlConThd", [this] { ControlLoop(); });
  // Still live here only when the loop failed (a message the gateway should not have sent):
  // the stream is out of step, so the tunnel is as lost as if the gateway had closed it.
  if (IsTunnelLive(m_State)) OnControlLost("Control connection lost (protocol error)");
  m_ControlDone.Set();
}

void CAppMngCommon::ControlLoop() {
  CTlsControlSource source(*m_SSPI, m_ControlSock.Get(), m_StopEvent);
  // Everything decrypted so far in one read; the parser dispatches every complete message in it
  // and hands each connection's consecutive data over as one run.
  CMessageParser parser(*this, *this);
  std::vector<uint8_t> buf(kControlReadSize);
  int failures = 0;
  bool drain = false;
  int idle = 0;
  while (IsTunnelLive(m_State)) {
    if (!drain) {
      IControlSource::TWait w = source.Wait(kControlWaitMs);
      if (w == IControlSource::TWait::Stopped) break;
      if (w == IControlSource::TWait::Timeout) {
        ++idle;
        OnIdleSecond(idle);
        continue;
      }
      idle = 0;
    }
    const int n = ReadCounted(source, buf.data(), static_cast<int>(buf.size()), failures);
    if (!IsTunnelLive(m_State)) break;
    if (n == IControlSource::kClosed) {
      OnControlLost("Control connection closed by the gateway");
      return;
    }
    if (n > 0) parser.Feed(buf.data(), static_cast<size_t>(n));
    drain = n > 0;
  }
}

void CAppMngCommon::OnDataRun(int prmID, const iovec* prmParts, size_t prmCount, size_t) {
  std::shared_ptr<CConn> target;
  {
    std::lock_guard g(m_ConnsCS);
    target = m_Conns.Get(prmID);
  }
  if (target) target->WriteRunToApp(prmParts, prmCount);
}

void CAppMngCommon::OnControlLost(const std::string& prmWhy) {
  WriteDebugLog(prmWhy);
  // Requests in flight end now, not after the reachability check. A manager already stopping
  // tells nobody.
  if (!SetState(TTunnelState::Lost)) return;
  ShutControlSock();
  StopListeners();
  NotifyLost();
  TOnCloseCallback callback;
  {
    std::lock_guard g(m_OnCloseLock);
    callback = m_OncloseCallback;
  }
  if (callback) callback();
}

void CAppMngCommon::LoseControl(const std::string& prmWhy) {
  if (!IsTunnelLive(m_State)) return;
  WriteDebugLog("AppMng - " + prmWhy + ": the gateway counts as lost");
  // The control thread then reads the end of the connection and runs the loss path.
  ShutControlSock();
}

// Messages to the gateway

bool CAppMngCommon::SendWire(const uint8_t* prmBytes, size_t prmLen, const char* prmErrPrefix) {
  std::string error;
  if (m_SendGroup.Send(prmBytes, prmLen, error)) return true;
  if (!error.empty()) WriteDebugLog(prmErrPrefix + error + ")");
  return false;
}

bool CAppMngCommon::WriteParts(const iovec* prmParts, size_t prmCount, std::string& prmError) {
  if (!m_SSPI) return false;
  try {
    if (m_SSPI->SendSecV(m_ControlSock.Get(), prmParts, prmCount)) return true;
  } catch (const EBaseException& e) {
    prmError = e.GetMsg();
  }
  // A record may have gone out in part: nothing sent after it could be read by the gateway.
  LoseControl("sending failed");
  return false;
}

bool CAppMngCommon::SendMsg(const TLegacyAppHeader& prmHdr, const void* prmPayload, size_t prmLen,
                            const char* prmErrPrefix) {
  std::vector<uint8_t> msg(static_cast<size_t>(HeaderSize()) + prmLen);
  EncodeHdr(prmHdr, msg.data());
  if (prmLen > 0) std::memcpy(msg.data() + HeaderSize(), prmPayload, prmLen);
  return SendWire(msg.data(), msg.size(), prmErrPrefix);
}

bool CAppMngCommon::SendHeaderOnly(uint8_t prmCode, const char* prmErrPrefix) {
  TLegacyAppHeader h;
  h.ActionCode = prmCode;
  return SendMsg(h, nullptr, 0, prmErrPrefix);
}

bool CAppMngCommon::SendData(int prmID, const std::string& prmDestIP, int prmDestPort,
                             TDataBuf& prmBuf, int prmLen) {
  uint32_t addr = 0;
  ParseDottedQuad(prmDestIP, addr);
  TLegacyAppHeader h{mcData, addr, static_cast<uint16_t>(prmDestPort), static_cast<uint16_t>(prmID),
                     prmLen};
  // A shorter header is written right before the payload so both go out as one piece.
  uint8_t* start = prmBuf.Hdr + (kHeaderSize - HeaderSize());
  EncodeHdr(h, start);
  return SendWire(start, static_cast<size_t>(HeaderSize() + prmLen), "SendData Exception (");
}

bool CAppMngCommon::SendDataBatch(int prmID, const std::string& prmDestIP, int prmDestPort,
                                  TDataBatch& prmBatch, size_t prmLen) {
  uint32_t addr = 0;
  ParseDottedQuad(prmDestIP, addr);
  TLegacyAppHeader h{mcData, addr, static_cast<uint16_t>(prmDestPort), static_cast<uint16_t>(prmID),
                     0};
  std::span<const uint8_t> msgs = prmBatch.Seal(
      h, prmLen,
      [this](const TLegacyAppHeader& prmHdr, uint8_t* prmOut) { EncodeHdr(prmHdr, prmOut); });
  return SendWire(msgs.data(), msgs.size(), "SendData Exception (");
}

void CAppMngCommon::SendLogMsg(uint8_t prmLogLevel, const std::string& prmProtocol,
                               uint32_t prmDest, const std::string& prmDestName,
                               const std::string& prmMsg) {
  std::vector<uint8_t> rec =
      EncodeLogRecord(prmLogLevel, prmProtocol, prmDest, prmDestName, prmMsg);
  TLegacyAppHeader h;
  h.ActionCode = mcLog;
  h.Len = static_cast<int32_t>(rec.size());
  SendMsg(h, rec.data(), rec.size(), "SendLogMsg Exception (");
}

void CAppMngCommon::ResetTimers() {
  SendHeaderOnly(mcResetTimers, "ResetTimers Exception (");
}

// Requests with an answer: one of each kind at a time; the wait ends with the answer, or with
// the failure value when the control connection is lost or the manager goes away.

template <typename T, typename TSend>
T CAppMngCommon::Ask(TRequest<T>& prmReq, T prmFailure, TSend prmSend) {
  std::lock_guard g(prmReq.CS);
  {
    std::lock_guard a(prmReq.AnswerLock);
    prmReq.Answer = prmFailure;
  }
  if (m_LostEvent.IsSet() || !prmSend()) {
    prmReq.Event.Reset();
    return prmFailure;
  }
  T answer = prmFailure;
  const int woke = WaitForAny({&prmReq.Event, &m_LostEvent}, m_RequestTimeoutMs);
  if (woke == 0) {
    std::lock_guard a(prmReq.AnswerLock);
    answer = prmReq.Answer;
  } else if (woke < 0) {
    LoseControl("no answer within " + std::to_string(m_RequestTimeoutMs) + " ms");
  }
  prmReq.Event.Reset();
  return answer;
}

template <typename T>
void CAppMngCommon::Answer(TRequest<T>& prmReq, T prmValue) {
  {
    std::lock_guard a(prmReq.AnswerLock);
    prmReq.Answer = std::move(prmValue);
  }
  prmReq.Event.Set();
}

void CAppMngCommon::AnswerHost(uint32_t prmNetAddr) {
  Answer(m_HostResolution, prmNetAddr);
}

void CAppMngCommon::AnswerName(bool prmUser, std::string prmName) {
  Answer(prmUser ? m_GetUserName : m_GetPassword, std::move(prmName));
}

void CAppMngCommon::AnswerTimers(uint32_t prmIdle, uint32_t prmLife) {
  Answer(m_GetTimers, std::make_pair(prmIdle, prmLife));
}

uint32_t CAppMngCommon::ResolveHost(const std::string& prmHost) {
  std::string name = ToAnsi(prmHost);
  if (name.size() > kMaxHostNameLen) {
    WriteDebugLog("AppMng.ResolveHost - host name too long (" + std::to_string(name.size()) + ")");
    return kResolveNotYet;
  }
  return Ask<uint32_t>(m_HostResolution, kResolveNotYet, [&] {
    TLegacyAppHeader h;
    h.ActionCode = mcResolve;
    h.Len = static_cast<int32_t>(name.size());
    return SendMsg(h, name.data(), name.size(), "ResolveHost Exception (");
  });
}

std::string CAppMngCommon::GetUsername(bool prmNoAlt) {
  std::string alt;
  if (!prmNoAlt && AltCredential(true, alt)) return alt;
  return Ask<std::string>(m_GetUserName, std::string(),
                          [&] { return SendHeaderOnly(mcUserName, "GetUsername Exception ("); });
}

std::string CAppMngCommon::GetPassword(bool prmNoAlt) {
  std::string alt;
  if (!prmNoAlt && AltCredential(false, alt)) return alt;
  return Ask<std::string>(m_GetPassword, std::string(),
                          [&] { return SendHeaderOnly(mcPassword, "GetPassword Exception ("); });
}

void CAppMngCommon::GetTimers(uint32_t& prmIdleTime, uint32_t& prmLifetime) {
  auto t = Ask<std::pair<uint32_t, uint32_t>>(
      m_GetTimers, {0, 0}, [&] { return SendHeaderOnly(mcTimers, "GetTimers Exception ("); });
  prmIdleTime = t.first;
  prmLifetime = t.second;
}

}  // namespace vantrel
