#include "tunnel/Conn.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/ThreadEntry.h"

namespace vantrel {

CConn::CConn(IConnHost* prmAppMng, TUniqueFd prmCSock, std::string prmDestIP, int prmDestPort,
             HWND prmNotifyDest, uint32_t prmNotifyMsg)
    : m_CSock(std::move(prmCSock)),
      m_AppMng(prmAppMng),
      m_DestIP(std::move(prmDestIP)),
      m_DestPort(prmDestPort),
      m_NotifyMsg(prmNotifyMsg),
      m_NotifyDest(prmNotifyDest) {}

CConn::~CConn() {
  WriteDebugLog("CConn.Destroy - ID " + std::to_string(m_ID));
  m_Terminate = true;
  m_StopEvent.Set();
  CloseSock();
  if (m_NotifyMsg != 0 && m_ID > 0) {
    SendMessage(m_NotifyDest, m_NotifyMsg, 0, m_NotifyID);
    // Gives the notified window a moment before the identifier can be handed out again.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

void CConn::CloseConn() {
  std::lock_guard g(m_SockLock);
  if (!m_CSock) return;
  m_Terminate = true;
  m_StopEvent.Set();
}

void CConn::Stop() {
  m_Destroying = true;
  m_Terminate = true;
  m_StopEvent.Set();
  m_OutQueued.Set();  // ends a relay that is still handing the application its last data
}

void CConn::CloseSock() {
  std::lock_guard g(m_SockLock);
  m_CSock.Reset();
}

void CConn::RunThd() {
  RunGuarded("_ConnThd", [this] { ConnThd(); });
}

void CConn::Relay(const char* prmOpenFailedLog, const char* prmReadErrorLog) {
  if (!m_CSock) return;
  try {
    if (!m_AppMng->SendOpenConn(m_ID, m_DestIP, m_DestPort)) {
      if (prmOpenFailedLog != nullptr) {
        WriteDebugLog(prmOpenFailedLog);
        m_Terminate = true;
      }
      CloseSock();
      return;
    }
    m_AppMng->IncConnCount();
    ReadLoop(prmReadErrorLog);
  } catch (const EBaseException& e) {
    WriteDebugLog("ConnThd Exception (" + e.GetMsg() + ")");
  } catch (const std::exception& e) {
    WriteDebugLog(std::string("ConnThd Exception (") + e.what() + ")");
  }
  // What the gateway sent before the relay ended still reaches the application (one that only
  // closed its sending side may still read it); an application that is gone fails at once.
  if (!m_Destroying) DrainOutput(0, true);
  CloseSock();
  // A relay stopped by the gateway frees its identifier too; only when the owner is taking the
  // connection down does freeing stay with the owner.
  m_AppMng->CloseConn(*this, m_Terminate, !m_Destroying);
}

void CConn::ReadLoop(const char* prmReadErrorLog) {
  TDataBuf one;
  TDataBatch batch(m_AppMng->HeaderSize());
  // Set after a read that filled the whole batch: the application is likely ahead, and the next
  // read goes first, without a wait, unless there is output to write or a stop to notice.
  bool full = false;
  for (;;) {
    const bool queued = m_HasOutput;
    if (m_Terminate) return;
    if (!full || queued) {
      pollfd fds[3] = {{m_CSock.Get(), static_cast<short>(POLLIN | (queued ? POLLOUT : 0)), 0},
                       {m_StopEvent.Fd(), POLLIN, 0},
                       {m_OutQueued.Fd(), POLLIN, 0}};
      int r = poll(fds, 3, -1);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) throw EBaseException::CreateFmt("poll failed %d", errno);
      if ((fds[1].revents & POLLIN) || m_Terminate) return;
      if (fds[2].revents & POLLIN) m_OutQueued.TryConsume();
      if (fds[0].revents & (POLLOUT | POLLERR)) FlushQueued();
      if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    }
    // A send callback sees the application's bytes one message at a time, as it always has;
    // otherwise everything the application has (up to a batch) goes out in one call.
    const bool filtered = static_cast<bool>(m_SendCallback);
    iovec single{one.Data, kMaxPayload};
    msghdr msg{};
    msg.msg_iov = filtered ? &single : const_cast<iovec*>(batch.Slots());
    msg.msg_iovlen = filtered ? 1 : batch.SlotCount();
    ssize_t n = recvmsg(m_CSock.Get(), &msg, MSG_DONTWAIT);
    full = !filtered && n == static_cast<ssize_t>(batch.SlotCount() * kMaxPayload);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      WriteDebugLog(prmReadErrorLog + std::to_string(errno) + ")");
      return;
    }
    if (n == 0) return;  // the application closed its side
    if (!filtered) {
      m_AppMng->SendDataBatch(m_ID, m_DestIP, m_DestPort, batch, static_cast<size_t>(n));
      continue;
    }
    if (m_SendCallback(one.Data, static_cast<uint32_t>(n))) m_SendCallback = nullptr;
    m_AppMng->SendData(m_ID, m_DestIP, m_DestPort, one, static_cast<int>(n));
  }
}

bool CConn::WriteToApp(const uint8_t* prmBuf, int prmLen) {
  iovec part{const_cast<uint8_t*>(prmBuf), static_cast<size_t>(std::max(prmLen, 0))};
  return WriteRunToApp(&part, 1);
}

void CConn::FlushQueued() {
  // The control thread holds the lock only while it waits for this socket itself.
  std::unique_lock g(m_SockLock, std::try_to_lock);
  if (!g.owns_lock() || !m_CSock) return;
  if (m_Out.Flush(m_CSock.Get()) == TConnOutput::TResult::Failed)
    WriteDebugLog("CConn: Send Data  to App error (" + std::to_string(m_Out.Error()) + ")");
  m_HasOutput = m_Out.Queued() > 0;
}

bool CConn::WriteRunToApp(const iovec* prmParts, size_t prmCount) {
  {
    std::lock_guard g(m_SockLock);
    if (!m_CSock) return false;
    TConnOutput::TResult r = m_Out.Write(m_CSock.Get(), prmParts, prmCount);
    m_HasOutput = m_Out.Queued() > 0;
    if (r == TConnOutput::TResult::Failed) {
      WriteDebugLog("CConn: Send Data  to App error (" + std::to_string(m_Out.Error()) + ")");
      return false;
    }
    if (r == TConnOutput::TResult::Done) return true;
    if (!m_Out.OverBound()) {
      m_OutQueued.Set();
      return true;
    }
  }
  return DrainOutput(TConnOutput::kBound, false);
}

bool CConn::DrainOutput(size_t prmKeep, bool prmRelay) {
  std::unique_lock g(m_SockLock);
  for (;;) {
    if (!m_CSock) return false;
    const bool failed =
        m_Out.Queued() > prmKeep && m_Out.Flush(m_CSock.Get()) == TConnOutput::TResult::Failed;
    m_HasOutput = m_Out.Queued() > 0;
    if (failed) {
      WriteDebugLog("CConn: Send Data  to App error (" + std::to_string(m_Out.Error()) + ")");
      return false;
    }
    if (m_Out.Queued() <= prmKeep) return true;
    // Only the relay closes the socket: it may wait without the lock, leaving the control thread
    // free; the control thread keeps it, so the socket cannot be closed under its wait. The
    // relay's stop is already set when it drains: there the owner's Stop wakes it through
    // m_OutQueued instead.
    pollfd fds[3] = {{m_CSock.Get(), POLLOUT, 0},
                     {m_AppMng->StopEvent().Fd(), POLLIN, 0},
                     {prmRelay ? m_OutQueued.Fd() : m_StopEvent.Fd(), POLLIN, 0}};
    if (prmRelay) g.unlock();
    int r = poll(fds, 3, kAppWriteStallMs);
    if (prmRelay) g.lock();
    if (r < 0 && errno == EINTR) continue;
    if (prmRelay && (fds[2].revents & POLLIN)) {
      m_OutQueued.TryConsume();
      if (m_Destroying) return false;
      continue;
    }
    if (r == 0) {
      WriteDebugLog("CConn: Send Data  to App error (stalled, ID " + std::to_string(m_ID) + ")");
      m_Terminate = true;
      m_StopEvent.Set();
      return false;
    }
    if (r < 0 || ((fds[1].revents | fds[2].revents) & POLLIN)) return false;
  }
}

void CTCSConn::ConnThd() {
  Relay("CTCSConn.ConnThd:Failed to open remote connection",
        "CTCSConn.ConnThd:Recv from app data failed, Error: (");
}

bool CTCSConn::SendData(const uint8_t* prmBuf, int prmLen) {
  return WriteToApp(prmBuf, prmLen);
}

}  // namespace vantrel
