// The reference gateway for tests: a TLS server on a loopback port that speaks either tunnel
// protocol byte for byte, serves forwarded connections through real TCP connections, answers the
// client's requests from its scenario, records everything the client sends, and misbehaves on
// request.
//
// Typical use in a test:
//   TGatewayScenario sc;                     // or ScenarioFromJson(R"({"userName": "bob"})")
//   sc.Mapping["10.0.0.5:3389"] = "127.0.0.1:" + std::to_string(echo.Port());
//   TGatewayPeer peer(sc);
//   uint16_t port = peer.Start();            // the client connects to 127.0.0.1:port
//   ... run the client ...
//   auto open = peer.WaitForMessage(9, 5000); // the client's open request, decoded and raw
//   peer.SendClose(open->Id());               // gateway-side close of that connection
//   peer.CloseControlConnection();            // drop the tunnel
//
// Threads: one accept thread and one thread per control connection ("session"); sessions are
// numbered from 1 in accept order. Observations cover every session; triggers act on the newest
// session that is still open and return false when there is none. Triggers are asynchronous:
// they run on the session thread in calling order, before anything the session sends later.
// Stop() (and the destructor) ends and joins every thread; no wait of the peer is unbounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "testpeer/PeerRecorder.h"
#include "testpeer/PeerScenario.h"
#include "testpeer/PeerTls.h"

namespace vantrel::testpeer {

class TGatewaySession;

class TGatewayPeer {
 public:
  explicit TGatewayPeer(TGatewayScenario prmScenario = {});
  // Raises EBaseException for invalid scenario text.
  explicit TGatewayPeer(const std::string& prmScenarioJson);
  ~TGatewayPeer();
  TGatewayPeer(const TGatewayPeer&) = delete;
  TGatewayPeer& operator=(const TGatewayPeer&) = delete;

  // Binds, listens and starts accepting; returns the bound port. Raises EBaseException when the
  // address, the port or the certificate cannot be used. Called once.
  uint16_t Start();
  // Closes every connection and joins every thread. Idempotent.
  void Stop();
  uint16_t Port() const { return m_Port; }
  // The fingerprint clients pin (tls/ServerTrust.h); after Start.
  std::string KeyFingerprint() const { return testpeer::KeyFingerprint(m_Ctx.get()); }
  const std::string& Address() const { return m_Address; }

  // The scenario as it stands; changes apply to decisions taken after the call (a running
  // session keeps its protocol).
  TGatewayScenario Scenario() const;
  void UpdateScenario(const std::function<void(TGatewayScenario&)>& prmChange);

  // --- Observations (thread-safe) ---
  std::vector<TPeerMessage> ReceivedMessages() const { return m_Recorder.Messages(); }
  std::vector<TPeerMessage> ReceivedMessages(uint32_t prmCode) const {
    return m_Recorder.MessagesWithCode(prmCode);
  }
  // The prmNth (1-based) message with this code from any session, waiting up to prmTimeoutMs.
  std::optional<TPeerMessage> WaitForMessage(uint32_t prmCode, int prmTimeoutMs, int prmNth = 1) {
    return m_Recorder.WaitForMessage(prmCode, prmTimeoutMs, prmNth);
  }
  std::vector<TLogRecord> LogRecords() const { return m_Recorder.LogRecords(); }
  bool WaitForLogRecords(size_t prmCount, int prmTimeoutMs) {
    return m_Recorder.WaitForLogRecords(prmCount, prmTimeoutMs);
  }
  // Called on a session thread for each log record as it arrives (set before Start).
  void SetLogCallback(TPeerRecorder::TLogCallback prmCallback) {
    m_Recorder.SetLogCallback(std::move(prmCallback));
  }
  // The newest tunnel request, byte for byte; empty before the first.
  std::string HttpRequest() const;
  std::vector<std::string> HttpRequests() const { return m_Recorder.HttpRequests(); }
  bool WaitForHttpRequest(int prmTimeoutMs) { return m_Recorder.WaitForHttpRequest(prmTimeoutMs); }
  // What the peer found wrong in what the client sent (and requests it refused), one line each.
  std::vector<std::string> Errors() const { return m_Recorder.Errors(); }
  std::string ClientCertSubject() const { return m_Recorder.ClientCertSubject(); }
  TPeerCounters Counters() const { return m_Recorder.Counters(); }
  bool WaitForCounters(const std::function<bool(const TPeerCounters&)>& prmDone, int prmTimeoutMs) {
    return m_Recorder.WaitForCounters(prmDone, prmTimeoutMs);
  }
  int KeepaliveCount() const { return Counters().Keepalives; }
  int ProbesSent() const { return Counters().ProbesSent; }
  int ProbeAnswers() const { return Counters().ProbeAnswers; }
  // Until prmCount control connections have ended (closed by either side).
  bool WaitForSessionsEnded(int prmCount, int prmTimeoutMs);

  // --- Triggers on the newest open session ---
  bool CloseControlConnection();
  // Bytes as they are: one TLS record, or one record per byte when prmAsOneRecord is false.
  bool SendRaw(const TBytes& prmBytes, bool prmAsOneRecord = true);
  // Each element is one TLS record (to split a header or join messages at chosen places).
  bool SendRecords(const std::vector<TBytes>& prmRecords);
  // A message in the session's protocol; Len is prmHeader.Len as given. One record unless the
  // scenario splits headers.
  bool SendMessage(const TWireHeader& prmHeader, const TBytes& prmPayload = {});
  // Code prmCode for prmId with Len = payload size.
  bool SendMessage(uint32_t prmCode, uint16_t prmId, const TBytes& prmPayload = {});
  bool SendData(uint16_t prmId, const TBytes& prmPayload);
  // Closes the peer's destination connection of prmId (if any) and sends code 7.
  bool SendClose(uint16_t prmId);
  bool SendTunnelUp(uint32_t prmCode = 1);
  bool SendProbe();

 private:
  struct TSessionSlot {
    std::shared_ptr<TGatewaySession> Session;
    std::thread Thread;
  };

  void AcceptThd();
  void StartSession(int prmFd);
  bool PostToNewest(std::function<void(TGatewaySession&)> prmAction);
  std::shared_ptr<const TGatewayScenario> ScenarioSnapshot() const;

  mutable std::mutex m_ScenarioLock;
  std::shared_ptr<const TGatewayScenario> m_Scenario;
  TPeerRecorder m_Recorder;
  TSslCtxPtr m_Ctx{nullptr, SSL_CTX_free};
  TEvent m_Stop{true};
  int m_ListenFd = -1;
  uint16_t m_Port = 0;
  std::string m_Address;
  std::thread m_AcceptThread;
  std::mutex m_SessionsLock;
  std::vector<TSessionSlot> m_Sessions;
  int m_SessionCount = 0;
};

}  // namespace vantrel::testpeer
