// The multiplexer: what the tunnel carries over an up link. The connection table with its
// identifiers, the local listeners, the relay threads, the requests waiting for answers, and the
// framing of every message written to the gateway (the protocol's header, then the link).
//
// Locks, three of them, never held across a wait or a message to the gateway:
// - m_ConnsCS guards m_Conns, m_ConnsCount, m_Listeners and m_Relays (registration, freeing,
//   listener creation and the relays' bookkeeping). Under it only a connection's own lock may be
//   taken (a connection whose relay could not start is destroyed there), and the relay pool's
//   lock (a relay is handed to a thread there);
// - the relay pool's own lock (RelayPool.h) guards its idle threads and the tasks handed to them;
//   nothing is taken under it;
// - the request table's own lock (RequestTable.h) guards the requests and their answers; it is
//   never held together with another.
// The link's state is read under m_ConnsCS without a lock; the link never calls back into the
// multiplexer.
#pragma once

#include <sys/uio.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tunnel/ConnHost.h"
#include "tunnel/ConnTable.h"
#include "tunnel/ListenRequest.h"
#include "tunnel/Listener.h"
#include "tunnel/RelayPool.h"
#include "tunnel/RequestTable.h"
#include "tunnel/TunnelLink.h"
#include "tunnel/TunnelProtocol.h"

namespace vantrel {

class CTunnelMux : public IConnHost, public IDataRunSink {
 public:
  // Both outlive the multiplexer.
  CTunnelMux(CTunnelLink& prmLink, IMuxProtocol& prmProtocol);
  // The owner has stopped it (StopListeners, StopConns) first.
  ~CTunnelMux() override = default;

  // IConnHost
  bool SendOpenConn(int prmID, const std::string& prmDestIP, int prmDestPort) override;
  bool SendData(int prmID, const std::string& prmDestIP, int prmDestPort, TDataBuf& prmBuf,
                int prmLen) override;
  bool SendDataBatch(int prmID, const std::string& prmDestIP, int prmDestPort, TDataBatch& prmBatch,
                     size_t prmLen) override;
  int HeaderSize() const override { return m_Protocol.HeaderSize(); }
  void CloseConn(CConn& prmConn, bool prmSignalSP, bool prmFreeConn) override;
  void IncConnCount() override;
  int CreateConn(std::shared_ptr<CConn> prmConn) override;
  std::shared_ptr<CConn> NewConn(TUniqueFd prmCSock, const std::string& prmDestIP, int prmDestPort,
                                 HWND prmNotifyDest, uint32_t prmNotifyMsg) override;
  int AllowedAccepts(bool prmSSO, bool prmSSP) const override;
  const TEvent& StopEvent() const override { return m_Link.StopEvent(); }

  // IDataRunSink: the gateway's data for one connection, written to its application.
  void OnDataRun(int prmID, const iovec* prmParts, size_t prmCount, size_t prmBytes) override;

  // A message with the protocol's header; a failure is logged after prmErrPrefix.
  bool SendMsg(const TLegacyAppHeader& prmHdr, const void* prmPayload = nullptr, size_t prmLen = 0,
               const char* prmErrPrefix = "SendMsg Exception (");
  bool SendHeaderOnly(uint8_t prmCode, const char* prmErrPrefix = "SendMsg Exception (");
  // The second reactions both protocols share: a connection's close request, the name and
  // password answers and the resolve answer. False when prmHdr is none of them.
  bool OnSharedMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload, size_t prmLen);
  TRequestTable& Requests() { return m_Requests; }

  // Creates and starts a listener for prmRequest; prmLocalPort receives the bound port. Raises
  // the listener-creation failures; false once the tunnel is lost or going.
  bool Listen(TListenRequest prmRequest, int& prmLocalPort);
  // Closes every listener: a client connecting afterwards is refused at once.
  void StopListeners();
  // Stops every registered connection, waits for their relays and joins the relay threads.
  void StopConns();
  // The window told of losses; a relay's connection notifies it when it has none of its own.
  void SetLossWindow(HWND prmWnd) { m_LossWnd = prmWnd; }
  int GetConnsCount() const;
  // The connection registered under prmID, or none.
  std::shared_ptr<CConn> GetConn(int prmID) const;

 private:
  // A relay running on the pool: done once it has let go of its connection.
  // A relay's end: the event for whoever waits for it, and a flag the bookkeeping of every new
  // connection reads without a system call per live relay.
  struct TRelayEnd {
    TEvent Event{true};
    std::atomic<bool> Ended{false};
  };
  struct TRelay {
    std::shared_ptr<TRelayEnd> Done;
    HWND Wnd;
  };
  // Forgets the relays that are done; with prmAll waits for every relay first.
  void WaitRelays(bool prmAll);

  CTunnelLink& m_Link;
  IMuxProtocol& m_Protocol;
  TRequestTable m_Requests;
  std::atomic<HWND> m_LossWnd{nullptr};
  mutable std::recursive_mutex m_ConnsCS;
  TConnTable m_Conns;
  int m_ConnsCount = 0;
  std::vector<TRelay> m_Relays;
  std::vector<std::unique_ptr<CListener>> m_Listeners;
  // Last: its threads are joined before anything a relay might have used goes.
  TRelayPool m_Pool;
};

}  // namespace vantrel
