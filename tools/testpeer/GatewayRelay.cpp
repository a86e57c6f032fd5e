// Destination connections of the gateway peer: open requests become non-blocking TCP connects
// through the scenario's mapping; data flows both ways with flow limits instead of unbounded
// buffers; either side's close ends the pair.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "testpeer/GatewaySession.h"
#include "testpeer/PeerSocket.h"

namespace vantrel::testpeer {

namespace {

constexpr uint16_t kLegacyOpenPort = 135;
constexpr uint16_t kMaxConnId = 499;

}  // namespace

bool TGatewaySession::InputPaused() const {
  return m_StopReading || m_DestOutBytes > kDestOutHigh;
}

bool TGatewaySession::ResolveTarget(uint32_t prmAddr, uint16_t prmPort, uint32_t& prmLocal,
                                    uint16_t& prmLocalPort) {
  auto sc = Scenario();
  const std::string dotted = FormatDottedQuad(prmAddr);
  auto it = sc->Mapping.find(dotted + ":" + std::to_string(prmPort));
  if (it == sc->Mapping.end()) it = sc->Mapping.find(dotted);
  if (it == sc->Mapping.end()) {
    prmLocal = prmAddr;
    prmLocalPort = prmPort;
    return IsLoopbackAddr(prmAddr);
  }
  std::string host;
  int port = prmPort;
  SplitHostPort(it->second, prmPort, host, port);
  if (!ParseDottedQuad(host, prmLocal) || !IsLoopbackAddr(prmLocal) || port <= 0 || port > 65535) {
    Error("mapping of " + it->first + " to \"" + it->second + "\" is not a loopback address");
    return false;
  }
  prmLocalPort = static_cast<uint16_t>(port);
  return true;
}

void TGatewaySession::OnOpen(TPeerMessage& prmMsg) {
  const TWireHeader& h = prmMsg.Fields;
  const uint16_t id = h.RemotePort;
  if (m_Protocol == TProtocol::Legacy) {
    if (!ParseLegacyOpen(prmMsg.Payload, prmMsg.DestAddr, prmMsg.DestPort)) {
      Error("malformed open request payload");
      return;
    }
    if (h.ListenPort != kLegacyOpenPort)
      Error("open request with port " + std::to_string(h.ListenPort) + " in the header");
  } else if (h.Len != 0) {
    Error("open request with a payload");
  }
  if (id == 0 || id > kMaxConnId)
    Error("open request with identifier " + std::to_string(id) + " outside 1..499");
  if (m_Dests.count(id)) {
    // The legacy client does not announce closes its application made, so reuse is normal there.
    if (m_Protocol == TProtocol::First)
      Error("open request for identifier " + std::to_string(id) + " which is still open");
    DropDest(id);
  }
  m_GatewayClosed.erase(id);
  uint32_t local = 0;
  uint16_t localPort = 0;
  if (!ResolveTarget(prmMsg.DestAddr, prmMsg.DestPort, local, localPort)) {
    WriteDebugLog("testpeer: no way to " + FormatDottedQuad(prmMsg.DestAddr) + ":" +
                  std::to_string(prmMsg.DestPort));
    Refuse(id);
    return;
  }
  bool inProgress = false;
  int fd = StartConnect(local, localPort, inProgress);
  if (fd < 0) {
    Refuse(id);
    return;
  }
  TDest& d = m_Dests[id];
  d.Fd = fd;
  d.Id = id;
  d.DestAddr = prmMsg.DestAddr;
  d.DestPort = prmMsg.DestPort;
  d.Connecting = inProgress;
  if (!d.Connecting) OnDestConnected(d);
}

bool TGatewaySession::OnDestConnected(TDest& prmDest) {
  prmDest.Connecting = false;
  m_Recorder.Update([](TPeerCounters& c) {
    ++c.OpensServed;
    ++c.DestinationsOpen;
  });
  auto sc = Scenario();
  // The legacy client does not wait for a ready answer and has no meaning for code 5.
  if (m_Protocol == TProtocol::First && !sc->IsSilent(9)) {
    TWireHeader ready = GatewayHeader(5, prmDest.Id);
    if (sc->OpenReplyDelayMs > 0)
      Schedule(sc->OpenReplyDelayMs, [this, ready] { QueueMessage(ready); });
    else
      QueueMessage(ready);
  }
  return FlushDest(prmDest);
}

void TGatewaySession::Refuse(uint16_t prmId) {
  m_Recorder.Update([](TPeerCounters& c) { ++c.OpensRefused; });
  auto sc = Scenario();
  if (sc->RefuseMode == TRefuseMode::Silent) return;
  if (sc->RefuseMode == TRefuseMode::ReadyClose && m_Protocol == TProtocol::First)
    QueueMessage(GatewayHeader(5, prmId));
  m_GatewayClosed.insert(prmId);
  QueueMessage(GatewayHeader(7, prmId));
}

void TGatewaySession::OnData(const TWireHeader& prmFields, uint32_t prmDestAddr,
                             uint16_t prmDestPort, const uint8_t* prmData, size_t prmLen) {
  const uint16_t id = prmFields.RemotePort;
  if (prmLen == 0 || prmLen > kMaxDataPiece)
    Error("data message for " + std::to_string(id) + " with " + std::to_string(prmLen) + " bytes");
  m_FromClientUncounted += prmLen;
  auto it = m_Dests.find(id);
  if (it == m_Dests.end()) {
    // Data crossing the peer's own close is normal; anything else is the client's fault.
    if (!m_GatewayClosed.count(id))
      Error("data for identifier " + std::to_string(id) + " which is not open");
    return;
  }
  TDest& d = it->second;
  CheckConnFields(prmFields, prmDestAddr, prmDestPort, d);
  if (prmLen == 0) return;
  // Consecutive messages of one connection become one buffer and one write to the destination,
  // made once the whole decrypted input has been parsed.
  if (d.Out.empty() || d.Out.back().size() + prmLen > kDestChunk) {
    d.Out.emplace_back();
    d.Out.back().reserve(kDestChunk);
  }
  d.Out.back().insert(d.Out.back().end(), prmData, prmData + prmLen);
  if (d.OutBytes == 0) m_DestsToFlush.push_back(id);
  d.OutBytes += prmLen;
  m_DestOutBytes += prmLen;
}

void TGatewaySession::FlushFedDests() {
  std::vector<uint16_t> ids;
  ids.swap(m_DestsToFlush);
  for (uint16_t id : ids) {
    auto it = m_Dests.find(id);
    if (it != m_Dests.end() && !it->second.Connecting) FlushDest(it->second);
  }
}

void TGatewaySession::OnClientClose(const TPeerMessage& prmMsg) {
  // A close for an identifier the peer closed itself is the client's echo; nothing to do.
  auto it = m_Dests.find(prmMsg.Fields.RemotePort);
  if (it == m_Dests.end()) return;
  CheckConnFields(prmMsg.Fields, prmMsg.DestAddr, prmMsg.DestPort, it->second);
  if (it->second.OutBytes == 0)
    DropDest(it->first);
  else
    it->second.CloseWhenFlushed = true;
}

void TGatewaySession::CheckConnFields(const TWireHeader& prmFields, uint32_t prmDestAddr,
                                      uint16_t prmDestPort, const TDest& prmDest) {
  const TWireHeader& h = prmFields;
  // Built only for an error: this runs for every data message.
  auto what = [&] {
    return "code " + std::to_string(h.ActionCode & 0xff) + " for " + std::to_string(prmDest.Id);
  };
  if (m_Protocol == TProtocol::Legacy) {
    if (h.ListenPort != kLegacyOpenPort)
      Error(what() + " with port " + std::to_string(h.ListenPort) + " in the header");
  } else if (prmDestAddr != prmDest.DestAddr || prmDestPort != prmDest.DestPort) {
    Error(what() + " names " + FormatDottedQuad(prmDestAddr) + ":" + std::to_string(prmDestPort) +
          ", opened as " + FormatDottedQuad(prmDest.DestAddr) + ":" +
          std::to_string(prmDest.DestPort));
  }
}

void TGatewaySession::ReadDest(TDest& prmDest) {
  m_DestBuf.resize(kDestChunk);
  ssize_t n = ::recv(prmDest.Fd, m_DestBuf.data(), m_DestBuf.size(), 0);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {
    CloseFromGateway(prmDest.Id);
    return;
  }
  const size_t piece = Scenario()->DataPieceSize;
  for (size_t off = 0; off < static_cast<size_t>(n); off += piece) {
    size_t len = std::min(piece, static_cast<size_t>(n) - off);
    QueueMessage(GatewayHeader(6, prmDest.Id, static_cast<uint32_t>(len)), m_DestBuf.data() + off,
                 len);
  }
  m_Recorder.Update([n](TPeerCounters& c) { c.DataBytesToClient += static_cast<uint64_t>(n); });
}

bool TGatewaySession::FlushDest(TDest& prmDest) {
  while (!prmDest.Out.empty()) {
    TBytes& b = prmDest.Out.front();
    ssize_t n = ::send(prmDest.Fd, b.data() + prmDest.OutOffset, b.size() - prmDest.OutOffset,
                       MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
    if (n < 0) {
      CloseFromGateway(prmDest.Id);
      return false;
    }
    prmDest.OutOffset += static_cast<size_t>(n);
    prmDest.OutBytes -= static_cast<size_t>(n);
    m_DestOutBytes -= static_cast<size_t>(n);
    if (prmDest.OutOffset == b.size()) {
      prmDest.Out.pop_front();
      prmDest.OutOffset = 0;
    }
  }
  if (prmDest.CloseWhenFlushed) {
    DropDest(prmDest.Id);
    return false;
  }
  return true;
}

void TGatewaySession::DropDest(uint16_t prmId) {
  auto it = m_Dests.find(prmId);
  if (it == m_Dests.end()) return;
  ::close(it->second.Fd);
  m_DestOutBytes -= it->second.OutBytes;
  if (!it->second.Connecting) m_Recorder.Update([](TPeerCounters& c) { --c.DestinationsOpen; });
  m_Dests.erase(it);
}

void TGatewaySession::CloseFromGateway(uint16_t prmId) {
  DropDest(prmId);
  m_GatewayClosed.insert(prmId);
  QueueMessage(GatewayHeader(7, prmId));
}

void TGatewaySession::ServiceDests(const std::vector<pollfd>& prmFds, size_t prmFirst,
                                   const std::vector<uint16_t>& prmIds) {
  for (size_t i = prmFirst; i < prmFds.size() && m_Phase != TPhase::Closed; ++i) {
    const short re = prmFds[i].revents;
    auto it = m_Dests.find(prmIds[i - prmFirst]);
    // Skip entries whose destination went away or was replaced since the poll.
    if (re == 0 || it == m_Dests.end() || it->second.Fd != prmFds[i].fd) continue;
    TDest& d = it->second;
    if (d.Connecting) {
      if (PendingError(d.Fd) != 0) {
        uint16_t id = d.Id;
        DropDest(id);
        Refuse(id);
      } else {
        OnDestConnected(d);
      }
      continue;
    }
    if ((re & (POLLOUT | POLLERR)) && d.OutBytes > 0 && !FlushDest(d)) continue;
    if ((re & (POLLIN | POLLHUP | POLLERR)) && m_Out.Bytes() < kOutHigh) ReadDest(d);
  }
}

}  // namespace vantrel::testpeer
