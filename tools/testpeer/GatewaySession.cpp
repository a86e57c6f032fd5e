#include "testpeer/GatewaySession.h"

#include <openssl/err.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"

namespace vantrel::testpeer {

namespace {

constexpr size_t kMaxRequest = 16384;
constexpr size_t kReadChunk = 16384;
// Reads per loop pass, so that destinations get their turn under a fast client.
constexpr int kReadsPerPass = 64;

// Request text for an error line: printable, with CR and LF shown.
std::string Printable(std::string_view prmText) {
  std::string out;
  for (char c : prmText) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
      out += '?';
    else
      out += c;
  }
  return out;
}

}  // namespace

TGatewaySession::TGatewaySession(int prmNumber, int prmFd, SSL_CTX* prmCtx,
                                 TScenarioSource prmScenario, TPeerRecorder& prmRecorder,
                                 TEvent& prmStop)
    : m_Number(prmNumber),
      m_Fd(prmFd),
      m_Ssl(SSL_new(prmCtx), SSL_free),
      m_Scenario(std::move(prmScenario)),
      m_Recorder(prmRecorder),
      m_Stop(prmStop),
      m_Protocol(m_Scenario()->Protocol) {
  if (!m_Ssl || SSL_set_fd(m_Ssl.get(), m_Fd) != 1) {
    ::close(m_Fd);
    throw EBaseException("TLS: cannot create a session " + TakeTlsErrors());
  }
  SSL_set_accept_state(m_Ssl.get());
}

TGatewaySession::~TGatewaySession() {
  for (auto& [id, d] : m_Dests) ::close(d.Fd);
  m_Ssl.reset();
  if (m_Fd >= 0) ::close(m_Fd);
}

void TGatewaySession::Run() {
  // A client that goes away mid-write must cost a write error, not the whole process: SIGPIPE
  // raised by this thread's writes stays pending on it instead.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  try {
    Loop();
  } catch (const EBaseException& e) {
    Error(e.GetMsg());
  } catch (const std::exception& e) {
    Error(e.what());
  } catch (...) {
    Error("unexpected failure");
  }
  // Closing here, not in the destructor, so the client and the destinations see the end at once.
  while (!m_Dests.empty()) DropDest(m_Dests.begin()->first);
  m_Ssl.reset();
  ::close(m_Fd);
  m_Fd = -1;
  {
    std::lock_guard<std::mutex> g(m_PostLock);
    m_Ended = true;
    m_Posted.clear();
    m_Wake.reset();
  }
  m_Recorder.Update([](TPeerCounters& c) { ++c.SessionsEnded; });
}

bool TGatewaySession::Post(TAction prmAction) {
  {
    std::lock_guard<std::mutex> g(m_PostLock);
    if (m_Ended) return false;
    m_Posted.push_back(std::move(prmAction));
    m_Wake->Set();
  }
  return true;
}

bool TGatewaySession::Ended() const {
  std::lock_guard<std::mutex> g(m_PostLock);
  return m_Ended;
}

void TGatewaySession::Loop() {
  Schedule(Scenario()->HandshakeTimeoutMs, [this] {
    if (m_Phase == TPhase::Handshake || m_Phase == TPhase::Request) {
      Error("TLS handshake and request not complete in time");
      CloseControl("handshake timeout");
    }
  });
  std::vector<pollfd> fds;
  std::vector<uint16_t> ids;
  while (m_Phase != TPhase::Closed) {
    fds.clear();
    ids.clear();
    fds.push_back({m_Stop.Fd(), POLLIN, 0});
    fds.push_back({m_Wake->Fd(), POLLIN, 0});
    short events = InputPaused() ? 0 : POLLIN;
    if (m_WantWrite) events |= POLLOUT;
    fds.push_back({m_Fd, events, 0});
    const size_t first = fds.size();
    for (auto& [id, d] : m_Dests) {
      short e = 0;
      if (d.Connecting || d.OutBytes > 0) e |= POLLOUT;
      if (!d.Connecting && m_Out.Bytes() < kOutHigh) e |= POLLIN;
      fds.push_back({d.Fd, e, 0});
      ids.push_back(id);
    }
    // Records the TLS layer already read from the socket do not make it readable again.
    const bool buffered =
        (events & POLLIN) && m_Phase != TPhase::Handshake && SSL_has_pending(m_Ssl.get()) == 1;
    if (::poll(fds.data(), fds.size(), buffered ? 0 : PollTimeoutMs()) < 0 && errno != EINTR)
      throw EBaseException(std::string("poll failed: ") + std::strerror(errno));
    if (fds[0].revents & POLLIN) return;
    if (fds[1].revents & POLLIN) m_Wake->TryConsume();
    RunPosted();
    RunTimers();
    if (m_Phase == TPhase::Closed) return;
    if (m_Phase == TPhase::Handshake)
      StepHandshake();
    else if (!InputPaused())
      ReadTls();
    FlushFedDests();
    ServiceDests(fds, first, ids);
    FlushTls();
    if (m_CloseWhenFlushed && m_Out.Empty()) CloseControl("reply sent");
  }
}

void TGatewaySession::RunPosted() {
  std::vector<TAction> todo;
  {
    std::lock_guard<std::mutex> g(m_PostLock);
    todo.swap(m_Posted);
  }
  for (TAction& a : todo) a(*this);
}

void TGatewaySession::Schedule(int prmDelayMs, std::function<void()> prmAction) {
  m_Timers.emplace(TClock::now() + std::chrono::milliseconds(prmDelayMs), std::move(prmAction));
}

void TGatewaySession::RunTimers() {
  while (!m_Timers.empty() && m_Phase != TPhase::Closed &&
         m_Timers.begin()->first <= TClock::now()) {
    auto action = std::move(m_Timers.begin()->second);
    m_Timers.erase(m_Timers.begin());
    action();
  }
}

int TGatewaySession::PollTimeoutMs() const {
  if (m_Timers.empty()) return -1;  // the stop and wake events still end the wait
  return MsLeft(m_Timers.begin()->first) + 1;
}

void TGatewaySession::SetPhase(TPhase prmPhase) {
  m_Phase = prmPhase;
}

void TGatewaySession::Error(const std::string& prmText) {
  WriteDebugLog("testpeer session " + std::to_string(m_Number) + ": " + prmText);
  m_Recorder.AddError(m_Number, prmText);
}

void TGatewaySession::StepHandshake() {
  m_WantWrite = false;
  int r = SSL_do_handshake(m_Ssl.get());
  if (r == 1) {
    m_Recorder.SetClientCertSubject(ClientCertSubject(m_Ssl.get()));
    SetPhase(TPhase::Request);
    ReadTls();
    return;
  }
  int e = SSL_get_error(m_Ssl.get(), r);
  if (e == SSL_ERROR_WANT_READ) return;
  if (e == SSL_ERROR_WANT_WRITE) {
    m_WantWrite = true;
    return;
  }
  Error("TLS handshake failed " + TakeTlsErrors());
  CloseControl("handshake failed");
}

void TGatewaySession::ReadTls() {
  for (int i = 0; i < kReadsPerPass && m_Phase != TPhase::Closed && !InputPaused(); ++i) {
    size_t old = m_In.size();
    m_In.resize(old + kReadChunk);
    int r = SSL_read(m_Ssl.get(), m_In.data() + old, static_cast<int>(kReadChunk));
    m_In.resize(old + (r > 0 ? r : 0));
    if (r > 0) {
      ProcessInput();
      continue;
    }
    int e = SSL_get_error(m_Ssl.get(), r);
    if (e == SSL_ERROR_WANT_READ) return;
    if (e == SSL_ERROR_WANT_WRITE) {
      m_WantWrite = true;
      return;
    }
    if (e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)) {
      CloseControl("closed by the client");
      return;
    }
    Error("TLS read failed " + TakeTlsErrors());
    CloseControl("read failed");
  }
}

void TGatewaySession::ProcessInput() {
  if (m_Phase == TPhase::Request) ProcessRequest();
  if (m_Phase == TPhase::AwaitInit || m_Phase == TPhase::Up) {
    // Once per input buffer: the scenario is shared under a lock, too dear for every message.
    m_RecordLimit = Scenario()->RecordDataLimit;
    while (ParseMessage()) {
    }
  }
  if (m_FromClientUncounted > 0) {
    m_Recorder.Update(
        [n = m_FromClientUncounted](TPeerCounters& c) { c.DataBytesFromClient += n; });
    m_FromClientUncounted = 0;
  }
  if (m_InPos == m_In.size()) {
    m_In.clear();
    m_InPos = 0;
  } else if (m_InPos > 65536) {
    m_In.erase(m_In.begin(), m_In.begin() + static_cast<ptrdiff_t>(m_InPos));
    m_InPos = 0;
  }
}

void TGatewaySession::ProcessRequest() {
  std::string_view text(reinterpret_cast<const char*>(m_In.data()) + m_InPos,
                        m_In.size() - m_InPos);
  size_t end = text.find("\r\n\r\n");
  if (end == std::string_view::npos) {
    if (text.size() > kMaxRequest) {
      Error("request longer than " + std::to_string(kMaxRequest) + " bytes");
      CloseControl("request too long");
    }
    return;
  }
  std::string request(text.substr(0, end + 4));
  m_InPos += end + 4;
  m_Recorder.AddHttpRequest(request);
  auto sc = Scenario();
  SetPhase(TPhase::ReplyPending);
  std::vector<std::string> values;
  if (!MatchTemplate(sc->RequestTemplate(), request, values)) {
    Error("request does not match the expected text: " + Printable(request));
    QueueRecord(TBytes{'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '4', '0',  '0',  ' ',  'B',
                       'a', 'd', ' ', 'R', 'e', 'q', 'u', 'e', 's', 't', '\r', '\n', '\r', '\n'});
    m_CloseWhenFlushed = true;
    return;
  }
  const bool first = m_Protocol == TProtocol::First;
  const std::string& cookie = first ? values[1] : values[0];
  std::string wrong;
  if (!sc->ExpectedCookie.empty() && cookie != sc->ExpectedCookie) wrong = "cookie";
  if (first && !sc->ExpectedHost.empty() && values[0] != sc->ExpectedHost) wrong = "host";
  if (first && !sc->ExpectedClientId.empty() && values[2] != sc->ExpectedClientId)
    wrong = "clientid";
  if (!wrong.empty()) {
    Error("request refused: unexpected " + wrong);
    QueueRecord(TBytes(sc->ForbiddenReply.begin(), sc->ForbiddenReply.end()));
    m_CloseWhenFlushed = true;
    return;
  }
  if (sc->HttpReplyDelayMs == 0)
    SendHttpReply();
  else if (sc->HttpReplyDelayMs > 0)
    Schedule(sc->HttpReplyDelayMs, [this] { SendHttpReply(); });
}

void TGatewaySession::SendHttpReply() {
  std::string reply = Scenario()->EffectiveHttpReply();
  QueueRecord(TBytes(reply.begin(), reply.end()));
  SetPhase(TPhase::AwaitInit);
  ProcessInput();
}

void TGatewaySession::QueueRecord(TBytes prmBytes) {
  if (m_Phase == TPhase::Closed || prmBytes.empty()) return;
  m_Out.AppendRecord(std::move(prmBytes));
}

void TGatewaySession::QueueMessage(const TWireHeader& prmHeader, const TBytes& prmPayload) {
  QueueMessage(prmHeader, prmPayload.data(), prmPayload.size());
}

void TGatewaySession::QueueMessage(const TWireHeader& prmHeader, const uint8_t* prmPayload,
                                   size_t prmLen) {
  if (m_Phase == TPhase::Closed) return;
  const TBytes header = EncodeHeader(m_Protocol, prmHeader);
  const size_t split = Scenario()->SplitHeaderAt;
  if (split == 0 || split >= header.size()) {
    m_Out.Append(header.data(), header.size());
    m_Out.Append(prmPayload, prmLen);
    return;
  }
  // The fault mode keeps every message in records of its own, cut inside the header.
  QueueRecord(TBytes(header.begin(), header.begin() + static_cast<ptrdiff_t>(split)));
  TBytes rest(header.begin() + static_cast<ptrdiff_t>(split), header.end());
  rest.insert(rest.end(), prmPayload, prmPayload + prmLen);
  QueueRecord(std::move(rest));
}

void TGatewaySession::FlushTls() {
  if (m_Phase == TPhase::Handshake || m_Phase == TPhase::Closed) return;
  m_WantWrite = false;
  m_Out.Seal();
  while (!m_Out.Empty()) {
    const TBytes& rec = m_Out.Front();
    int r = SSL_write(m_Ssl.get(), rec.data(), static_cast<int>(rec.size()));
    if (r > 0) {
      m_Out.PopFront();
      continue;
    }
    int e = SSL_get_error(m_Ssl.get(), r);
    if (e == SSL_ERROR_WANT_WRITE) {
      m_WantWrite = true;
      return;
    }
    if (e == SSL_ERROR_WANT_READ) return;
    if (e != SSL_ERROR_SYSCALL || ERR_peek_error() != 0)
      Error("TLS write failed " + TakeTlsErrors());
    CloseControl("write failed");
    return;
  }
}

void TGatewaySession::CloseControl(const std::string& prmWhy) {
  if (m_Phase == TPhase::Closed) return;
  WriteDebugLog("testpeer session " + std::to_string(m_Number) + " closed: " + prmWhy);
  SetPhase(TPhase::Closed);
  m_Out.Clear();
  // Abrupt, as a gateway that drops the tunnel: no close_notify, the client sees the socket end.
  ::shutdown(m_Fd, SHUT_RDWR);
}

}  // namespace vantrel::testpeer
