// A local listening socket on the process's loopback address and its accept thread. Each
// accepted socket becomes a forwarded connection registered with the manager. Owned by the
// manager; destruction stops and joins the accept thread. The connections it created belong to
// the manager, not to the listener.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "diag/SpareFd.h"
#include "diag/UniqueFd.h"
#include "platform/Event.h"
#include "platform/Window.h"
#include "tunnel/ConnHost.h"
#include "tunnel/ListenRequest.h"
#include "tunnel/TCSProtocolBase.h"

namespace vantrel {

class CListener {
 public:
  // Binds and listens; raises "Failed to s socket %d", "Failed to bind %d", "Failed to get
  // socket information %d" or "Failed to start listening %d". prmBindPort receives the port.
  CListener(IConnHost* prmAppMng, TListenRequest prmRequest, int& prmBindPort);
  ~CListener();
  CListener(const CListener&) = delete;
  CListener& operator=(const CListener&) = delete;

  // Starts the accept thread; once.
  void Start();
  void ListenThd();

 private:
  // An accepted socket, or none when the listener is stopped or accepting failed.
  TUniqueFd AcceptCon();
  void AcceptLoop();
  // Makes a forwarded connection of an accepted socket and registers it.
  void Forward(TUniqueFd prmSock);
  // Out of descriptors: takes the waiting connection and closes it.
  void RefuseOne(int prmErr);
  static constexpr int kRefuseBackoffMs = 100;

  TUniqueFd m_Sock;
  int m_AppPort;
  IConnHost* m_AppMng;
  std::thread m_Thd;
  std::string m_DestIP;
  int m_DestPort;
  std::atomic<bool> m_Terminate{false};
  int m_TimesLisConn = 0;
  uint32_t m_NotifyMsg;
  int m_SecurityRDPID;
  bool m_bSSO;
  bool m_Enablecredssp;
  HWND m_NotifyDest;
  TConnSendCallback m_SendCallback;
  TEvent m_StopEvent{true};
  TSpareFd m_Reserve;
};

}  // namespace vantrel
