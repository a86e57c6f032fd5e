#include "tunnel/Listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "diag/ThreadEntry.h"
#include "tunnel/Conn.h"
#include "tunnel/LocalHost.h"

namespace vantrel {

CListener::CListener(IConnHost* prmAppMng, TListenRequest prmRequest, int& prmBindPort)
    : m_AppPort(prmRequest.SrcPort),
      m_AppMng(prmAppMng),
      m_DestIP(std::move(prmRequest.DestIP)),
      m_DestPort(prmRequest.DestPort),
      m_NotifyMsg(prmRequest.NotifyMsg),
      m_SecurityRDPID(prmRequest.SecurityRDPID),
      m_bSSO(prmRequest.SSO),
      m_Enablecredssp(prmRequest.SSP),
      m_NotifyDest(prmRequest.NotifyDest),
      m_SendCallback(std::move(prmRequest.SendCallback)) {
  WriteDebugLog("CListener - SecurityRDPID " + std::to_string(m_SecurityRDPID) + ", SSO " +
                std::to_string(m_bSSO) + ", CredSSP " + std::to_string(m_Enablecredssp));
  // Non-blocking: a connection that goes away between poll and accept must not block accept.
  m_Sock.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!m_Sock) throw EBaseException::CreateFmt("Failed to s socket %d", errno);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  uint32_t loopback = 0;
  ParseDottedQuad(GetFixedLocalHostAddr(), loopback);
  addr.sin_addr.s_addr = htonl(loopback);
  addr.sin_port = htons(static_cast<uint16_t>(m_AppPort));
  if (m_AppPort != 0) m_AppPort = 0;
  // A failure leaves the socket to m_Sock, which closes it as the exception leaves.
  if (bind(m_Sock.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw EBaseException::CreateFmt("Failed to bind %d", errno);
  socklen_t len = sizeof addr;
  if (getsockname(m_Sock.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw EBaseException::CreateFmt("Failed to get socket information %d", errno);
  prmBindPort = ntohs(addr.sin_port);
  if (listen(m_Sock.Get(), SOMAXCONN) != 0)
    throw EBaseException::CreateFmt("Failed to start listening %d", errno);
}

CListener::~CListener() {
  WriteDebugLog("CListener.Destroy - port " + std::to_string(m_DestPort));
  m_Terminate = true;
  m_StopEvent.Set();
  try {
    if (m_Thd.joinable()) m_Thd.join();
  } catch (...) {
    WriteDebugLog("Listener Destroy Exception");
  }
}

void CListener::Start() {
  m_Thd = std::thread([this] { ListenThd(); });
}

void CListener::ListenThd() {
  RunGuarded("_ListenThd", [this] { AcceptLoop(); });
  WriteDebugLog("ListenThd - End");
}

TUniqueFd CListener::AcceptCon() {
  for (;;) {
    pollfd fds[2] = {{m_Sock.Get(), POLLIN, 0}, {m_StopEvent.Fd(), POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || (fds[1].revents & POLLIN)) return TUniqueFd();
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    TUniqueFd s(accept4(m_Sock.Get(), reinterpret_cast<sockaddr*>(&peer), &len,
                        SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!s) {
      const int err = errno;
      if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR || err == ECONNABORTED) continue;
      if (TSpareFd::IsShortage(err)) {
        RefuseOne(err);
        continue;
      }
      WriteDebugLog("Listener - INVALID_SOCKET (" + std::to_string(err) + ")");
      return TUniqueFd();
    }
    sockaddr_in own{};
    len = sizeof own;
    if (getsockname(s.Get(), reinterpret_cast<sockaddr*>(&own), &len) != 0) continue;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    WriteDebugLog("Listener - Accepted connection from " + std::string(text) + ":" +
                  std::to_string(ntohs(peer.sin_port)));
    return s;
  }
}

void CListener::Forward(TUniqueFd prmSock) {
  // A connection that cannot be set up (descriptors or threads exhausted) is closed; the
  // listener goes on with the next.
  try {
    std::shared_ptr<CConn> conn =
        m_AppMng->NewConn(std::move(prmSock), m_DestIP, m_DestPort, m_NotifyDest, m_NotifyMsg);
    if (m_SendCallback) conn->RegisterSendCallback(m_SendCallback);
    // An unregistered connection goes with its last reference here, closing its socket.
    if (m_AppMng->CreateConn(std::move(conn)) < 0)
      WriteDebugLog("Listener - No free connection identifier, connection closed");
  } catch (const EBaseException& e) {
    WriteDebugLog("Listener - connection closed (" + e.GetMsg() + ")");
  } catch (const std::exception& e) {
    WriteDebugLog(std::string("Listener - connection closed (") + e.what() + ")");
  }
}

void CListener::RefuseOne(int prmErr) {
  WriteDebugLog("Listener - out of descriptors (" + std::to_string(prmErr) +
                "), connection refused");
  if (!m_Reserve.RefuseWaiting(m_Sock.Get())) m_StopEvent.Wait(kRefuseBackoffMs);
}

void CListener::AcceptLoop() {
  m_TimesLisConn = 0;
  while (!m_Terminate) {
    TUniqueFd s = AcceptCon();
    if (!s) break;
    Forward(std::move(s));
    int allowed = 10000;
    if (m_SecurityRDPID > 0) {
      ++m_TimesLisConn;
      allowed = m_AppMng->AllowedAccepts(m_bSSO, m_Enablecredssp);
    }
    WriteDebugLog("Listener - TimesLisConn " + std::to_string(m_TimesLisConn) + ", allowed " +
                  std::to_string(allowed));
    if (m_TimesLisConn > allowed) m_Terminate = true;
  }
}

}  // namespace vantrel
