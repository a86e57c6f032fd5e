#include "tunnel/TunnelMux.h"

#include <arpa/inet.h>

#include <cstring>

#include "diag/DebugLog.h"
#include "diag/NetAddress.h"
#include "tunnel/Conn.h"

namespace vantrel {

namespace {

// On the window thread a wait must keep handling messages: a worker may be blocked sending one.
void WaitOnWindow(TEvent& prmEvent, HWND prmWnd) {
  if (prmWnd != nullptr && prmWnd->IsWindowThread())
    prmWnd->WaitHandlingMessages(prmEvent, -1);
  else
    prmEvent.Wait(-1);
}

TLegacyAppHeader ConnHeader(uint8_t prmCode, const std::string& prmDestIP, int prmDestPort,
                            int prmID, int32_t prmLen) {
  uint32_t addr = 0;
  ParseDottedQuad(prmDestIP, addr);
  return TLegacyAppHeader{prmCode, addr, static_cast<uint16_t>(prmDestPort),
                          static_cast<uint16_t>(prmID), prmLen};
}

}  // namespace

CTunnelMux::CTunnelMux(CTunnelLink& prmLink, IMuxProtocol& prmProtocol)
    : m_Link(prmLink),
      m_Protocol(prmProtocol),
      m_Requests(prmLink.LostEvent(),
                 [&prmLink](const std::string& prmWhy) { prmLink.Lose(prmWhy); }) {}

// Messages to the gateway

bool CTunnelMux::SendMsg(const TLegacyAppHeader& prmHdr, const void* prmPayload, size_t prmLen,
                         const char* prmErrPrefix) {
  const auto hdrSize = static_cast<size_t>(HeaderSize());
  std::vector<uint8_t> msg(hdrSize + prmLen);
  m_Protocol.EncodeHdr(prmHdr, msg.data());
  if (prmLen > 0) std::memcpy(msg.data() + hdrSize, prmPayload, prmLen);
  return m_Link.Send(msg.data(), msg.size(), prmErrPrefix);
}

bool CTunnelMux::SendHeaderOnly(uint8_t prmCode, const char* prmErrPrefix) {
  TLegacyAppHeader h;
  h.ActionCode = prmCode;
  return SendMsg(h, nullptr, 0, prmErrPrefix);
}

bool CTunnelMux::SendOpenConn(int prmID, const std::string& prmDestIP, int prmDestPort) {
  return m_Protocol.SendOpenConn(prmID, prmDestIP, prmDestPort);
}

bool CTunnelMux::SendData(int prmID, const std::string& prmDestIP, int prmDestPort,
                          TDataBuf& prmBuf, int prmLen) {
  const TLegacyAppHeader h = ConnHeader(mcData, prmDestIP, prmDestPort, prmID, prmLen);
  // A shorter header is written right before the payload so both go out as one piece.
  uint8_t* start = prmBuf.Hdr + (kHeaderSize - HeaderSize());
  m_Protocol.EncodeHdr(h, start);
  return m_Link.Send(start, static_cast<size_t>(HeaderSize() + prmLen), "SendData Exception (");
}

bool CTunnelMux::SendDataBatch(int prmID, const std::string& prmDestIP, int prmDestPort,
                               TDataBatch& prmBatch, size_t prmLen) {
  const TLegacyAppHeader h = ConnHeader(mcData, prmDestIP, prmDestPort, prmID, 0);
  std::span<const uint8_t> msgs =
      prmBatch.Seal(h, prmLen, [this](const TLegacyAppHeader& prmHdr, uint8_t* prmOut) {
        m_Protocol.EncodeHdr(prmHdr, prmOut);
      });
  return m_Link.Send(msgs.data(), msgs.size(), "SendData Exception (");
}

bool CTunnelMux::OnSharedMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload,
                                 size_t prmLen) {
  switch (prmHdr.ActionCode) {
    case mcClose:
      if (auto conn = GetConn(prmHdr.RemotePort)) conn->CloseConn();
      return true;
    case mcUserName:
    case mcPassword:
      m_Requests.Answer(
          prmHdr.ActionCode == mcUserName ? TRequestTable::rkUserName : TRequestTable::rkPassword,
          {.First = 0, .Second = 0, .Text = NameFromPayload(prmPayload, prmLen)});
      return true;
    case mcResolve:
      m_Requests.Answer(TRequestTable::rkHost,
                        {.First = htonl(prmHdr.ListenIP), .Second = 0, .Text = {}});
      return true;
    default:
      return false;
  }
}

// Connections

std::shared_ptr<CConn> CTunnelMux::NewConn(TUniqueFd prmCSock, const std::string& prmDestIP,
                                           int prmDestPort, HWND prmNotifyDest,
                                           uint32_t prmNotifyMsg) {
  return m_Protocol.NewConn(std::move(prmCSock), prmDestIP, prmDestPort, prmNotifyDest,
                            prmNotifyMsg);
}

int CTunnelMux::AllowedAccepts(bool prmSSO, bool prmSSP) const {
  return m_Protocol.AllowedAccepts(prmSSO, prmSSP);
}

int CTunnelMux::CreateConn(std::shared_ptr<CConn> prmConn) {
  WaitRelays(false);
  // Everything that can run short (descriptors, memory) is taken before the connection is
  // registered: a registered connection with no relay would hold its client until the end.
  auto done = std::make_shared<TRelayEnd>();
  std::lock_guard g(m_ConnsCS);
  // A connection the tunnel can no longer carry is refused (its socket closes with it) rather
  // than left waiting for an open that never comes.
  if (!IsTunnelLive(m_Link.State())) return -1;
  m_Relays.reserve(m_Relays.size() + 1);
  int id = m_Conns.Add(prmConn);
  if (id < 0) return -1;
  prmConn->SetID(id);
  // The relay may destroy its connection, which sends the notification to this window.
  HWND wnd = prmConn->GetNotifyDest() != nullptr ? prmConn->GetNotifyDest() : m_LossWnd.load();
  // The relay keeps its connection alive while it runs and lets go before it reports done, so
  // whoever waits for it may destroy the object on its own thread. It holds the only reference
  // besides the table, so the connection is never destroyed here, under the lock, with its
  // notification.
  CConn* conn = prmConn.get();
  try {
    m_Pool.Run([conn = std::move(prmConn), done]() mutable {
      conn->RunThd();
      conn.reset();
      done->Ended = true;
      done->Event.Set();
    });
  } catch (...) {
    // Unnumbered first, so the table's reference goes without notifying anyone.
    conn->SetID(0);
    m_Conns.Remove(id, conn);
    throw;
  }
  m_Relays.push_back(TRelay{done, wnd});
  return id;
}

void CTunnelMux::WaitRelays(bool prmAll) {
  std::vector<TRelay> relays;
  {
    std::lock_guard g(m_ConnsCS);
    for (auto it = m_Relays.begin(); it != m_Relays.end();) {
      if (prmAll || it->Done->Ended) {
        relays.push_back(std::move(*it));
        it = m_Relays.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& r : relays) WaitOnWindow(r.Done->Event, r.Wnd);
}

void CTunnelMux::StopConns() {
  std::vector<std::shared_ptr<CConn>> conns;
  {
    std::lock_guard g(m_ConnsCS);
    conns = m_Conns.TakeAll();
  }
  for (auto& c : conns) c->Stop();
  WaitRelays(true);
  m_Pool.Stop();
  // Destroyed here, on this thread, now that no relay holds them.
  conns.clear();
}

void CTunnelMux::IncConnCount() {
  std::lock_guard g(m_ConnsCS);
  ++m_ConnsCount;
}

int CTunnelMux::GetConnsCount() const {
  std::lock_guard g(m_ConnsCS);
  return m_ConnsCount;
}

std::shared_ptr<CConn> CTunnelMux::GetConn(int prmID) const {
  std::lock_guard g(m_ConnsCS);
  return m_Conns.Get(prmID);
}

void CTunnelMux::CloseConn(CConn& prmConn, bool prmSignalSP, bool prmFreeConn) {
  const int id = prmConn.GetID();
  if (id < 1 || id >= kMaxConns) {
    WriteDebugLog("AppMng.CloseConn - unknown connection " + std::to_string(id));
    m_Protocol.OnConnClosed();
    return;
  }
  if (m_Protocol.SignalsClose(prmSignalSP)) {
    const TLegacyAppHeader h =
        ConnHeader(mcClose, prmConn.GetDestIP(), prmConn.GetDestPort(), id, 0);
    SendMsg(h, nullptr, 0, "CloseConn Exception (");
  }
  std::shared_ptr<CConn> freed;
  {
    std::lock_guard g(m_ConnsCS);
    --m_ConnsCount;
    if (prmFreeConn) freed = m_Conns.Remove(id, &prmConn);
  }
  WriteDebugLog("AppMng.CloseConn - ID " + std::to_string(id) + (freed ? " freed" : ""));
  m_Protocol.OnConnClosed();
}

void CTunnelMux::OnDataRun(int prmID, const iovec* prmParts, size_t prmCount, size_t) {
  if (std::shared_ptr<CConn> target = GetConn(prmID)) target->WriteRunToApp(prmParts, prmCount);
}

// Listeners

bool CTunnelMux::Listen(TListenRequest prmRequest, int& prmLocalPort) {
  std::lock_guard g(m_ConnsCS);
  // Nothing to forward through once the tunnel is lost or going.
  const TTunnelState state = m_Link.State();
  if (IsTunnelStopping(state) || state == TTunnelState::Lost || state == TTunnelState::Halted)
    return false;
  const std::string dest = prmRequest.DestIP + ":" + std::to_string(prmRequest.DestPort);
  const int asked = prmRequest.SrcPort;
  auto listener = std::make_unique<CListener>(this, std::move(prmRequest), prmLocalPort);
  WriteDebugLog("AppMng.AddConn - " + dest + " requested port " + std::to_string(asked) +
                " bound port " + std::to_string(prmLocalPort));
  listener->Start();
  m_Listeners.push_back(std::move(listener));
  return true;
}

void CTunnelMux::StopListeners() {
  std::vector<std::unique_ptr<CListener>> listeners;
  {
    std::lock_guard g(m_ConnsCS);
    listeners.swap(m_Listeners);
  }
  // Their sockets close here: a client connecting afterwards is refused at once.
  listeners.clear();
}

}  // namespace vantrel
