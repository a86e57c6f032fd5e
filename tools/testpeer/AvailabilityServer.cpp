#include "testpeer/AvailabilityServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "testpeer/PeerSocket.h"
#include "testpeer/PeerWire.h"

namespace vantrel::testpeer {

namespace {

// Once part of a request has arrived, the rest must follow within this time.
constexpr int kRequestTimeoutMs = 10000;
// A reply the client does not read within this time is abandoned.
constexpr int kSendTimeoutMs = 10000;
// After a closing reply the peer reads on briefly, so that unread request bytes do not turn the
// close into a reset that could destroy the reply in flight.
constexpr int kLingerMs = 1000;

enum class TWait { Ready, Stopped, TimedOut, Failed };

TWait WaitFor(int prmFd, short prmEvents, const TEvent& prmStop, int prmTimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(prmTimeoutMs);
  for (;;) {
    pollfd fds[2] = {{prmStop.Fd(), POLLIN, 0}, {prmFd, prmEvents, 0}};
    int n = ::poll(fds, 2, MsLeft(deadline));
    if (n < 0 && errno != EINTR) return TWait::Failed;
    if (fds[0].revents & POLLIN) return TWait::Stopped;
    if (n > 0 && fds[1].revents) return TWait::Ready;
    if (MsLeft(deadline) == 0) return TWait::TimedOut;
  }
}

bool SendAll(int prmFd, std::string_view prmData, const TEvent& prmStop) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendTimeoutMs);
  while (!prmData.empty()) {
    ssize_t n = ::send(prmFd, prmData.data(), prmData.size(), MSG_NOSIGNAL);
    if (n > 0) {
      prmData.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    if (WaitFor(prmFd, POLLOUT, prmStop, MsLeft(deadline)) != TWait::Ready) return false;
  }
  return true;
}

// Reads and drops what arrives until the client closes, Stop, or prmTimeoutMs (<0: no limit
// other than Stop) passes.
void DrainUntilClosed(int prmFd, const TEvent& prmStop, int prmTimeoutMs) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(prmTimeoutMs < 0 ? 0 : prmTimeoutMs);
  char sink[4096];
  for (;;) {
    int left = prmTimeoutMs < 0 ? 60000 : MsLeft(deadline);
    TWait w = WaitFor(prmFd, POLLIN, prmStop, left);
    if (w == TWait::Stopped || w == TWait::Failed) return;
    if (w == TWait::TimedOut) {
      if (prmTimeoutMs < 0) continue;
      return;
    }
    ssize_t n = ::recv(prmFd, sink, sizeof sink, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
  }
}

// Cuts a body before its last ">", so an XML reply can no longer be well-formed.
std::string Malform(const std::string& prmBody) {
  size_t gt = prmBody.rfind('>');
  return gt == std::string::npos ? prmBody + "<" : prmBody.substr(0, gt);
}

}  // namespace

TAvailabilityServer::TAvailabilityServer(TAvailScenario prmScenario)
    : m_State(std::move(prmScenario)) {}

TAvailabilityServer::TAvailabilityServer(const std::string& prmScenarioJson)
    : TAvailabilityServer(AvailScenarioFromJson(prmScenarioJson)) {}

TAvailabilityServer::~TAvailabilityServer() {
  Stop();
}

uint16_t TAvailabilityServer::Start() {
  if (m_ListenFd >= 0) throw EBaseException("availability peer: already started");
  TAvailScenario sc = Scenario();
  uint32_t addr = 0;
  if (!ParseDottedQuad(sc.ListenAddress, addr) || !IsLoopbackAddr(addr))
    throw EBaseException("availability peer: " + sc.ListenAddress + " is not a loopback address");
  m_ListenFd = ListenOn(addr, sc.Port, m_Port);
  m_Address = sc.ListenAddress;
  m_AcceptThread = std::thread([this] { AcceptThd(); });
  return m_Port;
}

void TAvailabilityServer::Stop() {
  m_Stop.Set();
  if (m_AcceptThread.joinable()) m_AcceptThread.join();
  std::vector<TConnSlot> conns;
  {
    std::lock_guard<std::mutex> g(m_ConnsLock);
    conns.swap(m_Conns);
  }
  for (TConnSlot& c : conns)
    if (c.Thread.joinable()) c.Thread.join();
  if (m_ListenFd >= 0) ::close(m_ListenFd);
  m_ListenFd = -1;
}

void TAvailabilityServer::ReapConnections() {
  for (auto it = m_Conns.begin(); it != m_Conns.end();) {
    if (it->Done->load()) {
      it->Thread.join();
      it = m_Conns.erase(it);
    } else {
      ++it;
    }
  }
}

void TAvailabilityServer::AcceptThd() {
  try {
    for (;;) {
      pollfd fds[2] = {{m_Stop.Fd(), POLLIN, 0}, {m_ListenFd, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
      if (fds[0].revents & POLLIN) break;
      if (!(fds[1].revents & POLLIN)) continue;
      int fd = AcceptConnection(m_ListenFd);
      if (fd < 0) continue;
      int number;
      size_t limit;
      {
        std::lock_guard<std::mutex> g(m_Lock);
        number = ++m_ConnectionCount;
        limit = static_cast<size_t>(m_State.Scenario().MaxConnections);
      }
      m_Changed.notify_all();
      std::lock_guard<std::mutex> g(m_ConnsLock);
      ReapConnections();
      if (m_Conns.size() >= limit) {
        // Noted before the close, so whoever sees the close also finds the note.
        AddError(number, "connection refused: " + std::to_string(limit) + " already open");
        ::close(fd);
        continue;
      }
      auto done = std::make_shared<std::atomic<bool>>(false);
      m_Conns.push_back({done, std::thread([this, fd, number, done] {
                           ConnectionThd(fd, number);
                           done->store(true);
                         })});
    }
  } catch (const EBaseException& e) {
    WriteDebugLog("availability peer accept: " + e.GetMsg());
  } catch (...) {
    WriteDebugLog("availability peer accept: unexpected failure");
  }
}

void TAvailabilityServer::ConnectionThd(int prmFd, int prmConnection) {
  try {
    ServeConnection(prmFd, prmConnection);
  } catch (const EBaseException& e) {
    AddError(prmConnection, e.GetMsg());
  } catch (const std::exception& e) {
    AddError(prmConnection, e.what());
  } catch (...) {
    AddError(prmConnection, "unexpected failure");
  }
  ::close(prmFd);
}

void TAvailabilityServer::ServeConnection(int prmFd, int prmConnection) {
  int idleMs;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    idleMs = m_State.Scenario().KeepAliveTimeoutMs;
  }
  std::string buffer;
  char chunk[16384];
  for (;;) {
    THttpRequest request;
    THttpParseResult parsed = ParseHttpRequest(buffer, request);
    while (parsed.State == THttpParse::Incomplete) {
      TWait w = WaitFor(prmFd, POLLIN, m_Stop, buffer.empty() ? idleMs : kRequestTimeoutMs);
      if (w == TWait::TimedOut && !buffer.empty())
        AddError(prmConnection,
                 "request not completed within " + std::to_string(kRequestTimeoutMs) + " ms");
      if (w != TWait::Ready) return;
      ssize_t n = ::recv(prmFd, chunk, sizeof chunk, 0);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) {
        if (!buffer.empty()) AddError(prmConnection, "connection closed inside a request");
        return;
      }
      buffer.append(chunk, static_cast<size_t>(n));
      parsed = ParseHttpRequest(buffer, request);
    }
    if (parsed.State == THttpParse::Bad) {
      AddError(prmConnection, "refused request: " + parsed.Error);
      if (SendAll(prmFd, BuildHttpReply(parsed.Status, "", false, "text/plain"), m_Stop)) {
        ::shutdown(prmFd, SHUT_WR);
        DrainUntilClosed(prmFd, m_Stop, kLingerMs);
      }
      return;
    }
    buffer.erase(0, parsed.Consumed);
    TPlan plan = Record(request, prmConnection);
    if (!Reply(prmFd, request, plan)) return;
  }
}

TAvailabilityServer::TPlan TAvailabilityServer::Record(THttpRequest prmRequest, int prmConnection) {
  TPlan plan;
  TAvailRequest recorded;
  std::vector<std::string> errors;
  {
    std::lock_guard<std::mutex> g(m_Lock);
    int nth = ++m_PathCounts[prmRequest.Path];
    if (const TAvailFault* f = m_State.Scenario().FindFault(prmRequest.Path, nth)) plan.Fault = *f;
    const TAvailFault* f = plan.Fault ? &*plan.Fault : nullptr;
    // A fault that replaces the reply leaves the server's state as it was: a failed state
    // query does not use up a step of the desktop's sequence.
    bool replaced = f && (f->Status != 0 || f->Body || f->Silent || f->CloseWithoutReply);
    if (!replaced) plan.Answer = m_State.Handle(prmRequest, errors);
    if (f && f->Status != 0) plan.Answer.Status = f->Status;
    if (f && f->Body) plan.Answer.Body = *f->Body;
    static_cast<THttpRequest&>(recorded) = std::move(prmRequest);
    recorded.Connection = prmConnection;
    recorded.Index = static_cast<int>(m_Requests.size()) + 1;
    m_Requests.push_back(recorded);
    for (const std::string& e : errors)
      m_Errors.push_back("connection " + std::to_string(prmConnection) + ": " + e);
  }
  m_Changed.notify_all();
  if (m_RequestCallback) m_RequestCallback(recorded);
  return plan;
}

bool TAvailabilityServer::Reply(int prmFd, const THttpRequest& prmRequest, const TPlan& prmPlan) {
  const TAvailFault* f = prmPlan.Fault ? &*prmPlan.Fault : nullptr;
  if (f && f->DelayMs > 0 && m_Stop.Wait(f->DelayMs)) return false;
  if (f && f->CloseWithoutReply) return false;
  if (f && f->Silent) {
    DrainUntilClosed(prmFd, m_Stop, -1);
    return false;
  }
  std::string body = prmPlan.Answer.Body;
  if (f && f->Malformed) body = Malform(body);
  const bool chunked = f && f->TransferCoding;
  const bool truncated = f && f->TruncateAt >= 0;
  const bool keepAlive = prmRequest.KeepAlive && !chunked && !truncated;
  std::string bytes = BuildHttpReply(prmPlan.Answer.Status, body, keepAlive,
                                     prmPlan.Answer.ContentType, {}, chunked);
  const size_t head = bytes.find("\r\n\r\n") + 4;
  if (prmRequest.Method == "HEAD")
    bytes.resize(head);
  else if (truncated)
    bytes.resize(std::min(bytes.size(), head + static_cast<size_t>(f->TruncateAt)));
  if (!SendAll(prmFd, bytes, m_Stop)) return false;
  if (keepAlive) return true;
  ::shutdown(prmFd, SHUT_WR);
  DrainUntilClosed(prmFd, m_Stop, kLingerMs);
  return false;
}

void TAvailabilityServer::AddError(int prmConnection, const std::string& prmText) {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Errors.push_back("connection " + std::to_string(prmConnection) + ": " + prmText);
  }
  m_Changed.notify_all();
}

std::vector<TAvailRequest> TAvailabilityServer::Requests() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Requests;
}

std::vector<TAvailRequest> TAvailabilityServer::Requests(const std::string& prmPath) const {
  std::lock_guard<std::mutex> g(m_Lock);
  std::vector<TAvailRequest> out;
  for (const TAvailRequest& r : m_Requests)
    if (r.Path == prmPath) out.push_back(r);
  return out;
}

std::optional<TAvailRequest> TAvailabilityServer::WaitForRequest(const std::string& prmPath,
                                                                 int prmTimeoutMs, int prmNth) {
  std::unique_lock<std::mutex> g(m_Lock);
  std::optional<TAvailRequest> found;
  m_Changed.wait_for(g, std::chrono::milliseconds(prmTimeoutMs), [&] {
    int seen = 0;
    for (const TAvailRequest& r : m_Requests)
      if (r.Path == prmPath && ++seen == prmNth) {
        found = r;
        return true;
      }
    return false;
  });
  return found;
}

bool TAvailabilityServer::WaitForRequestCount(size_t prmCount, int prmTimeoutMs) {
  std::unique_lock<std::mutex> g(m_Lock);
  return m_Changed.wait_for(g, std::chrono::milliseconds(prmTimeoutMs),
                            [&] { return m_Requests.size() >= prmCount; });
}

std::vector<std::string> TAvailabilityServer::Errors() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Errors;
}

int TAvailabilityServer::ConnectionsAccepted() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_ConnectionCount;
}

TAvailScenario TAvailabilityServer::Scenario() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_State.Scenario();
}

void TAvailabilityServer::UpdateScenario(const std::function<void(TAvailScenario&)>& prmChange) {
  std::lock_guard<std::mutex> g(m_Lock);
  prmChange(m_State.MutableScenario());
}

bool TAvailabilityServer::SetAvailStates(const std::string& prmHost, std::vector<int> prmStates) {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_State.SetAvailStates(prmHost, std::move(prmStates));
}

void TAvailabilityServer::AddFault(TAvailFault prmFault) {
  std::lock_guard<std::mutex> g(m_Lock);
  prmFault.Skip += m_PathCounts[prmFault.Path];
  m_State.MutableScenario().Faults.push_back(std::move(prmFault));
}

void TAvailabilityServer::ClearFaults() {
  UpdateScenario([](TAvailScenario& s) { s.Faults.clear(); });
}

std::map<std::string, std::string> TAvailabilityServer::UserProfiles() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_State.UserProfiles();
}

std::map<std::string, std::string> TAvailabilityServer::Icons() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_State.Icons();
}

std::vector<std::string> TAvailabilityServer::DeletedHosts() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_State.DeletedHosts();
}

std::vector<std::string> TAvailabilityServer::ClvAnswers() const {
  std::lock_guard<std::mutex> lock(m_Lock);
  return m_State.ClvAnswers();
}

int TAvailabilityServer::PowerUps(const std::string& prmHost) const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_State.PowerUps(prmHost);
}

}  // namespace vantrel::testpeer
