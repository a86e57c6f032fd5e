// One control connection of the gateway peer: TLS handshake, the tunnel request and reply, then
// the message protocol with real TCP connections to the destinations. Everything runs on the
// session's own thread in one poll() loop over the control socket, the destination sockets, a
// wake-up event for posted actions and the peer's stop event; no call blocks outside poll().
#pragma once

#include <openssl/ssl.h>
#include <poll.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "testpeer/PeerRecordQueue.h"
#include "testpeer/PeerRecorder.h"
#include "testpeer/PeerScenario.h"
#include "testpeer/PeerTls.h"

namespace vantrel::testpeer {

class TGatewaySession {
 public:
  using TScenarioSource = std::function<std::shared_ptr<const TGatewayScenario>()>;
  using TAction = std::function<void(TGatewaySession&)>;

  // Takes ownership of prmFd (an accepted, non-blocking socket). prmCtx, prmRecorder and prmStop
  // belong to the peer and outlive the session.
  TGatewaySession(int prmNumber, int prmFd, SSL_CTX* prmCtx, TScenarioSource prmScenario,
                  TPeerRecorder& prmRecorder, TEvent& prmStop);
  ~TGatewaySession();
  TGatewaySession(const TGatewaySession&) = delete;
  TGatewaySession& operator=(const TGatewaySession&) = delete;

  // The session thread's body; returns when the connection is closed or the peer stops.
  void Run();

  // Any thread: prmAction runs on the session thread at its next wake-up, in posting order.
  // False (and the action dropped) once the session has ended.
  bool Post(TAction prmAction);
  bool Ended() const;
  int Number() const { return m_Number; }

  // Session thread only (from posted actions).
  TProtocol Protocol() const { return m_Protocol; }
  void QueueRecord(TBytes prmBytes);
  // Packed into full records with the messages around it; the scenario's header split gives
  // each message records of its own instead.
  void QueueMessage(const TWireHeader& prmHeader, const TBytes& prmPayload = {});
  void QueueMessage(const TWireHeader& prmHeader, const uint8_t* prmPayload, size_t prmLen);
  // Closes the destination of prmId, if any, and tells the client with code 7.
  void CloseFromGateway(uint16_t prmId);
  void CloseControl(const std::string& prmWhy);

 private:
  enum class TPhase { Handshake, Request, ReplyPending, AwaitInit, Up, Closed };

  struct TDest {
    int Fd = -1;
    uint16_t Id = 0;
    uint32_t DestAddr = 0;  // as the open request named it
    uint16_t DestPort = 0;
    bool Connecting = true;
    bool CloseWhenFlushed = false;
    std::deque<TBytes> Out;  // client data not yet written, in chunks of up to kDestChunk
    size_t OutOffset = 0;    // bytes of Out.front() already written
    size_t OutBytes = 0;
  };

  using TClock = std::chrono::steady_clock;
  // Flow limits: destinations are not read while this much waits for the client, and the client
  // is not read while this much waits for the destinations.
  static constexpr size_t kOutHigh = 1u << 20;
  static constexpr size_t kDestOutHigh = 8u << 20;
  // Destinations are read, and their queued output kept, in pieces of this size.
  static constexpr size_t kDestChunk = 64u << 10;

  // Loop (GatewaySession.cpp).
  void Loop();
  void RunPosted();
  void RunTimers();
  int PollTimeoutMs() const;
  void Schedule(int prmDelayMs, std::function<void()> prmAction);
  void StepHandshake();
  void ReadTls();
  void FlushTls();
  void ProcessInput();
  void ProcessRequest();
  void SendHttpReply();
  void SetPhase(TPhase prmPhase);
  void Error(const std::string& prmText);
  std::shared_ptr<const TGatewayScenario> Scenario() const { return m_Scenario(); }

  // Client messages (GatewayDispatch.cpp).
  bool ParseMessage();
  void Dispatch(TPeerMessage& prmMsg);
  void CheckHeaderOnly(const TPeerMessage& prmMsg);
  void OnInit(const TPeerMessage& prmMsg);
  void OnTunnelUp();
  void SendProbe();
  void AnswerText(uint32_t prmCode, const std::string& prmText);
  void AnswerResolve(const TPeerMessage& prmMsg);
  void AnswerTimers();
  void OnLogRecord(const TPeerMessage& prmMsg);
  void RunScript(size_t prmStep);

  // Destinations (GatewayRelay.cpp).
  void OnOpen(TPeerMessage& prmMsg);
  void OnData(const TWireHeader& prmFields, uint32_t prmDestAddr, uint16_t prmDestPort,
              const uint8_t* prmData, size_t prmLen);
  // Writes to the destinations that data was queued for since the last call.
  void FlushFedDests();
  void OnClientClose(const TPeerMessage& prmMsg);
  // Checks the fields a client's data or close message must repeat from its open request.
  void CheckConnFields(const TWireHeader& prmFields, uint32_t prmDestAddr, uint16_t prmDestPort,
                       const TDest& prmDest);
  bool ResolveTarget(uint32_t prmAddr, uint16_t prmPort, uint32_t& prmLocal,
                     uint16_t& prmLocalPort);
  bool OnDestConnected(TDest& prmDest);  // false when the destination was dropped
  void Refuse(uint16_t prmId);
  void ReadDest(TDest& prmDest);
  bool FlushDest(TDest& prmDest);
  void DropDest(uint16_t prmId);
  void ServiceDests(const std::vector<pollfd>& prmFds, size_t prmFirst,
                    const std::vector<uint16_t>& prmIds);
  bool InputPaused() const;

  const int m_Number;
  int m_Fd;
  TSslPtr m_Ssl;
  TScenarioSource m_Scenario;
  TPeerRecorder& m_Recorder;
  TEvent& m_Stop;
  TProtocol m_Protocol;
  TPhase m_Phase = TPhase::Handshake;

  // Released when the session ends, so an ended session holds no descriptor while it waits to
  // be reaped; guarded by m_PostLock from then on.
  std::unique_ptr<TEvent> m_Wake = std::make_unique<TEvent>(false);
  mutable std::mutex m_PostLock;
  std::vector<TAction> m_Posted;
  bool m_Ended = false;

  std::multimap<TClock::time_point, std::function<void()>> m_Timers;

  TBytes m_In;
  size_t m_InPos = 0;
  TPeerRecordQueue m_Out;
  bool m_WantWrite = false;
  bool m_CloseWhenFlushed = false;
  bool m_StopReading = false;  // a gateway frozen on purpose: the client's bytes stay unread

  std::map<uint16_t, TDest> m_Dests;
  std::set<uint16_t> m_GatewayClosed;  // closed by the peer; late client data is not an error
  size_t m_DestOutBytes = 0;
  // Client data parsed but not yet added to the recorder's count: one update per input buffer,
  // not one lock per message.
  uint64_t m_FromClientUncounted = 0;
  size_t m_RecordLimit = 0;  // the scenario's RecordDataLimit while an input buffer is parsed
  std::vector<uint16_t> m_DestsToFlush;
  TBytes m_DestBuf;  // ReadDest's buffer, kept between reads
  size_t m_RecordedData = 0;
};

}  // namespace vantrel::testpeer
