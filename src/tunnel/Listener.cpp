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
#include "tunnel/Conn.h"
#include "tunnel/LocalHost.h"

namespace vantrel {

CListener::CListener(IConnHost* prmAppMng, std::string prmDestIP, int prmDestPort, int prmAppPort,
                     int& prmBindPort, HWND prmNotifyDest, uint32_t prmNotifyMsg, int prmNotifyID,
                     int prmSecurityRDPID, bool prmSSO, bool SSPFlag)
    : m_AppPort(prmAppPort),
      m_AppMng(prmAppMng),
      m_DestIP(std::move(prmDestIP)),
      m_DestPort(prmDestPort),
      m_NotifyMsg(prmNotifyMsg),
      m_NotifyID(prmNotifyID),
      m_SecurityRDPID(prmSecurityRDPID),
      m_bSSO(prmSSO),
      m_Enablecredssp(SSPFlag),
      m_NotifyDest(prmNotifyDest) {
  WriteDebugLog("CListener - SecurityRDPID " + std::to_string(m_SecurityRDPID) + ", SSO " +
                std::to_string(m_bSSO) + ", CredSSP " + std::to_string(m_Enablecredssp));
  m_Sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_Sock < 0) throw EBaseException::CreateFmt("Failed to s socket %d", errno);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  inet_pton(AF_INET, GetFixedLocalHostAddr().c_str(), &addr.sin_addr);
  addr.sin_port = htons(static_cast<uint16_t>(m_AppPort));
  if (m_AppPort != 0) m_AppPort = 0;
  if (bind(m_Sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int err = errno;
    close(m_Sock);
    throw EBaseException::CreateFmt("Failed to bind %d", err);
  }
  socklen_t len = sizeof addr;
  if (getsockname(m_Sock, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    int err = errno;
    close(m_Sock);
    throw EBaseException::CreateFmt("Failed to get socket information %d", err);
  }
  prmBindPort = ntohs(addr.sin_port);
  if (listen(m_Sock, SOMAXCONN) != 0) {
    int err = errno;
    close(m_Sock);
    throw EBaseException::CreateFmt("Failed to start listening %d", err);
  }
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
  close(m_Sock);
}

void CListener::Start() {
  m_Thd = std::thread([this] { ListenThd(); });
}

void CListener::ListenThd() {
  try {
    AcceptLoop();
  } catch (const EBaseException& e) {
    WriteDebugLog("_ListenThd Exception (" + e.GetMsg() + ")");
  } catch (...) {
    WriteDebugLog("_ListenThd Generic Exception");
  }
  WriteDebugLog("ListenThd - End");
  m_Terminated = true;
}

int CListener::AcceptCon() {
  for (;;) {
    pollfd fds[2] = {{m_Sock, POLLIN, 0}, {m_StopEvent.Fd(), POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || (fds[1].revents & POLLIN)) return -1;
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int s = accept4(m_Sock, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (s < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
        continue;
      WriteDebugLog("Listener - INVALID_SOCKET (" + std::to_string(errno) + ")");
      return -1;
    }
    sockaddr_in own{};
    len = sizeof own;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&own), &len) != 0) {
      close(s);
      continue;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    WriteDebugLog("Listener - Accepted connection from " + std::string(text) + ":" +
                  std::to_string(ntohs(peer.sin_port)));
    return s;
  }
}

void CListener::AcceptLoop() {
  m_TimesLisConn = 0;
  while (!m_Terminate) {
    int s = AcceptCon();
    if (s < 0) break;
    std::shared_ptr<CConn> conn;
    try {
      conn = m_AppMng->NewConn(s, m_DestIP, m_DestPort, m_NotifyDest, m_NotifyMsg);
    } catch (...) {
      close(s);
      throw;
    }
    if (m_SendCallback) conn->RegisterSendCallback(m_SendCallback);
    // An unregistered connection goes with its last reference here, closing its socket.
    if (m_AppMng->CreateConn(std::move(conn)) < 0)
      WriteDebugLog("Listener - No free connection identifier, connection closed");
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
