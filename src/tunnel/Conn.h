// A forwarded connection: one accepted application socket, its identifier in the tunnel and its
// relay thread (application to gateway). The control thread writes the gateway's data back with
// SendData. Shared ownership: the manager's table, the relay thread while it runs and the control
// thread while it delivers; the object goes with the last of them. The manager owns and joins the
// relay threads themselves.
#pragma once

#include <sys/uio.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "diag/UniqueFd.h"
#include "platform/Event.h"
#include "platform/Window.h"
#include "tunnel/ConnHost.h"
#include "tunnel/ConnOutput.h"
#include "tunnel/TCSProtocolBase.h"

namespace vantrel {

class CConn {
 public:
  // prmCSock is closed by the relay or by destruction.
  CConn(IConnHost* prmAppMng, TUniqueFd prmCSock, std::string prmDestIP, int prmDestPort,
        HWND prmNotifyDest, uint32_t prmNotifyMsg);
  // Closes the socket if the relay did not, and sends the notification message.
  virtual ~CConn();
  CConn(const CConn&) = delete;
  CConn& operator=(const CConn&) = delete;

  virtual void ConnThd() = 0;
  // Writes the gateway's bytes to the application; false on failure or when it stalls.
  virtual bool SendData(const uint8_t* prmBuf, int prmLen) = 0;
  // Control thread: consecutive gateway data for this connection, written with one sendmsg as
  // far as the application takes it; the rest waits in the connection's output (the relay
  // writes it when the socket drains) up to TConnOutput::kBound, beyond which this call stalls
  // like a plain write. False on failure or stall.
  bool WriteRunToApp(const iovec* prmParts, size_t prmCount);

  void SetID(int prmID) {
    m_ID = prmID;
    m_NotifyID = prmID;
  }
  int GetID() const { return m_ID; }
  // Window told when the object goes; its thread must keep handling messages while it waits.
  HWND GetNotifyDest() const { return m_NotifyDest; }
  // The gateway's close request: the relay stops, tells the gateway and ends.
  void CloseConn();
  // The owner is taking the connection down (table cleared or manager destroyed).
  void Stop();
  // The relay thread's entry: ConnThd inside the thread guard.
  void RunThd();
  const std::string& GetDestIP() const { return m_DestIP; }
  int GetDestPort() const { return m_DestPort; }
  void RegisterSendCallback(TConnSendCallback prmCallback) {
    m_SendCallback = std::move(prmCallback);
  }
  // Asked to stop (by the gateway or the owner); waits on its behalf end early.
  bool IsStopRequested() const { return m_Terminate; }

  // How long a write to the application may make no progress before the connection is closed:
  // one stalled application must not hold up the control thread and everyone else's data.
  static constexpr int kAppWriteStallMs = 5000;

 protected:
  // The relay's body, shared by the protocols: open request, then application to tunnel until
  // either side ends. prmOpenFailedLog is written when the open request fails (empty: nothing).
  void Relay(const char* prmOpenFailedLog, const char* prmReadErrorLog);
  // One piece of gateway data, through the same bounded output as a run.
  bool WriteToApp(const uint8_t* prmBuf, int prmLen);
  // Writes queued output until no more than prmKeep bytes wait, waiting for the application up
  // to kAppWriteStallMs without progress. False when it failed, stalled or the manager stopped;
  // on the control thread (prmRelay false) also when the relay was asked to stop.
  bool DrainOutput(size_t prmKeep, bool prmRelay);
  // Relay: writes what the socket takes of the queued output, unless the control thread is at it.
  void FlushQueued();

 private:
  void CloseSock();
  void ReadLoop(const char* prmReadErrorLog);

  int m_ID = -1;
  TUniqueFd m_CSock;
  IConnHost* m_AppMng;
  std::string m_DestIP;
  int m_DestPort;
  std::atomic<bool> m_Terminate{false};
  // Set when the owner takes the connection down: the relay then leaves freeing to the owner.
  std::atomic<bool> m_Destroying{false};
  uint32_t m_NotifyMsg;
  int m_NotifyID = -1;
  HWND m_NotifyDest;
  TEvent m_StopEvent{true};
  TConnSendCallback m_SendCallback;
  // Guards m_CSock and m_Out between the relay (which closes the socket and writes queued
  // output) and the control thread (which writes).
  std::mutex m_SockLock;
  TConnOutput m_Out;
  std::atomic<bool> m_HasOutput{false};  // m_Out holds bytes; read by the relay without the lock
  // Set by the control thread when output was queued, so the relay waits for the socket to drain.
  TEvent m_OutQueued{false};
};

class CTCSConn : public CConn {
 public:
  using CConn::CConn;
  void ConnThd() override;
  bool SendData(const uint8_t* prmBuf, int prmLen) override;
};

}  // namespace vantrel
