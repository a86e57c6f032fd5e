#include "testpeer/GatewayPeer.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "testpeer/GatewaySession.h"
#include "testpeer/PeerSocket.h"

namespace vantrel::testpeer {

TGatewayPeer::TGatewayPeer(TGatewayScenario prmScenario)
    : m_Scenario(std::make_shared<const TGatewayScenario>(std::move(prmScenario))) {}

TGatewayPeer::TGatewayPeer(const std::string& prmScenarioJson)
    : TGatewayPeer(ScenarioFromJson(prmScenarioJson)) {}

TGatewayPeer::~TGatewayPeer() {
  Stop();
}

std::shared_ptr<const TGatewayScenario> TGatewayPeer::ScenarioSnapshot() const {
  std::lock_guard<std::mutex> g(m_ScenarioLock);
  return m_Scenario;
}

TGatewayScenario TGatewayPeer::Scenario() const {
  return *ScenarioSnapshot();
}

void TGatewayPeer::UpdateScenario(const std::function<void(TGatewayScenario&)>& prmChange) {
  std::lock_guard<std::mutex> g(m_ScenarioLock);
  auto changed = std::make_shared<TGatewayScenario>(*m_Scenario);
  prmChange(*changed);
  m_Scenario = std::move(changed);
}

uint16_t TGatewayPeer::Start() {
  if (m_ListenFd >= 0) throw EBaseException("gateway peer: already started");
  auto sc = ScenarioSnapshot();
  uint32_t addr = 0;
  if (!ParseDottedQuad(sc->ListenAddress, addr) || !IsLoopbackAddr(addr))
    throw EBaseException("gateway peer: " + sc->ListenAddress + " is not a loopback address");
  m_Ctx = CreateServerContext(
      {sc->CertFile, sc->KeyFile, sc->RequireClientCert, sc->TlsMaxVersion, sc->ClientCAFile});
  m_ListenFd = ListenOn(addr, sc->Port, m_Port);
  m_Address = sc->ListenAddress;
  m_AcceptThread = std::thread([this] { AcceptThd(); });
  return m_Port;
}

void TGatewayPeer::Stop() {
  m_Stop.Set();
  if (m_AcceptThread.joinable()) m_AcceptThread.join();
  std::vector<TSessionSlot> sessions;
  {
    std::lock_guard<std::mutex> g(m_SessionsLock);
    sessions.swap(m_Sessions);
  }
  for (TSessionSlot& s : sessions)
    if (s.Thread.joinable()) s.Thread.join();
  if (m_ListenFd >= 0) ::close(m_ListenFd);
  m_ListenFd = -1;
}

void TGatewayPeer::AcceptThd() {
  try {
    for (;;) {
      pollfd fds[2] = {{m_Stop.Fd(), POLLIN, 0}, {m_ListenFd, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
      if (fds[0].revents & POLLIN) break;
      if (!(fds[1].revents & POLLIN)) continue;
      int fd = AcceptConnection(m_ListenFd);
      if (fd < 0) continue;
      try {
        StartSession(fd);
      } catch (const EBaseException& e) {
        // This client is dropped; the next one gets its chance.
        WriteDebugLog("testpeer accept: " + e.GetMsg());
      }
    }
  } catch (const EBaseException& e) {
    WriteDebugLog("testpeer accept: " + e.GetMsg());
  } catch (...) {
    WriteDebugLog("testpeer accept: unexpected failure");
  }
}

void TGatewayPeer::StartSession(int prmFd) {
  std::lock_guard<std::mutex> g(m_SessionsLock);
  // Reap sessions that have ended so a long-running peer does not gather threads.
  for (auto it = m_Sessions.begin(); it != m_Sessions.end();) {
    if (it->Session->Ended()) {
      it->Thread.join();
      it = m_Sessions.erase(it);
    } else {
      ++it;
    }
  }
  auto session = std::make_shared<TGatewaySession>(
      ++m_SessionCount, prmFd, m_Ctx.get(), [this] { return ScenarioSnapshot(); }, m_Recorder,
      m_Stop);
  m_Recorder.Update([](TPeerCounters& c) { ++c.SessionsAccepted; });
  m_Sessions.push_back({session, std::thread([session] { session->Run(); })});
}

bool TGatewayPeer::PostToNewest(std::function<void(TGatewaySession&)> prmAction) {
  std::lock_guard<std::mutex> g(m_SessionsLock);
  for (auto it = m_Sessions.rbegin(); it != m_Sessions.rend(); ++it)
    if (it->Session->Post(prmAction)) return true;
  return false;
}

std::string TGatewayPeer::HttpRequest() const {
  auto all = m_Recorder.HttpRequests();
  return all.empty() ? std::string() : all.back();
}

bool TGatewayPeer::WaitForSessionsEnded(int prmCount, int prmTimeoutMs) {
  return m_Recorder.WaitForCounters(
      [prmCount](const TPeerCounters& c) { return c.SessionsEnded >= prmCount; }, prmTimeoutMs);
}

bool TGatewayPeer::CloseControlConnection() {
  return PostToNewest([](TGatewaySession& s) { s.CloseControl("closed by the test"); });
}

bool TGatewayPeer::SendRaw(const TBytes& prmBytes, bool prmAsOneRecord) {
  if (prmAsOneRecord) return SendRecords({prmBytes});
  std::vector<TBytes> records;
  for (uint8_t b : prmBytes) records.push_back({b});
  return SendRecords(records);
}

bool TGatewayPeer::SendRecords(const std::vector<TBytes>& prmRecords) {
  return PostToNewest([prmRecords](TGatewaySession& s) {
    for (const TBytes& r : prmRecords) s.QueueRecord(r);
  });
}

bool TGatewayPeer::SendMessage(const TWireHeader& prmHeader, const TBytes& prmPayload) {
  return PostToNewest(
      [prmHeader, prmPayload](TGatewaySession& s) { s.QueueMessage(prmHeader, prmPayload); });
}

bool TGatewayPeer::SendMessage(uint32_t prmCode, uint16_t prmId, const TBytes& prmPayload) {
  return SendMessage(GatewayHeader(prmCode, prmId, static_cast<uint32_t>(prmPayload.size())),
                     prmPayload);
}

bool TGatewayPeer::SendData(uint16_t prmId, const TBytes& prmPayload) {
  return SendMessage(6, prmId, prmPayload);
}

bool TGatewayPeer::SendClose(uint16_t prmId) {
  return PostToNewest([prmId](TGatewaySession& s) { s.CloseFromGateway(prmId); });
}

bool TGatewayPeer::SendTunnelUp(uint32_t prmCode) {
  return SendMessage(prmCode, 0);
}

bool TGatewayPeer::SendProbe() {
  return SendMessage(81, 0);
}

}  // namespace vantrel::testpeer
