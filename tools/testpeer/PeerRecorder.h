// What the gateway peer saw, shared between its session threads and the test thread: every
// message the client sent (raw and decoded), log records, counters and peer-side errors. All
// accessors are thread-safe; every wait is bounded by its timeout.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "testpeer/PeerWire.h"

namespace vantrel::testpeer {

struct TPeerMessage {
  int Session = 0;     // 1 for the first control connection accepted, then 2, ...
  uint32_t Code = 0;   // the whole ActionCode field as the client wrote it
  TBytes Header;       // the header bytes as received
  TBytes Payload;      // empty for data messages beyond the scenario's record limit
  TWireHeader Fields;  // decoded header
  // Destination of open/data/close messages: from the header (first protocol) or from the open
  // request's payload (legacy); 0 when the message names none.
  uint32_t DestAddr = 0;
  uint16_t DestPort = 0;
  uint16_t Id() const { return Fields.RemotePort; }
  TBytes Raw() const;  // header followed by payload
};

struct TPeerCounters {
  int SessionsAccepted = 0;
  int SessionsEnded = 0;
  int Keepalives = 0;
  int ProbesSent = 0;
  int ProbeAnswers = 0;
  int OpensServed = 0;  // destinations connected
  int OpensRefused = 0;
  int DestinationsOpen = 0;  // destination connections open right now
  uint64_t DataBytesFromClient = 0;
  uint64_t DataBytesToClient = 0;
};

class TPeerRecorder {
 public:
  using TLogCallback = std::function<void(const TLogRecord&)>;

  // Called on session threads, without the recorder's lock held.
  void SetLogCallback(TLogCallback prmCallback);

  // Session side.
  void AddMessage(TPeerMessage prmMessage, bool prmKeepPayload);
  void AddLogRecord(const TLogRecord& prmRecord);
  void AddHttpRequest(const std::string& prmText);
  void AddError(int prmSession, const std::string& prmText);
  void SetClientCertSubject(const std::string& prmSubject);
  void Update(const std::function<void(TPeerCounters&)>& prmChange);

  // Test side.
  std::vector<TPeerMessage> Messages() const;
  std::vector<TPeerMessage> MessagesWithCode(uint32_t prmCode) const;
  std::vector<TLogRecord> LogRecords() const;
  std::vector<std::string> HttpRequests() const;
  std::vector<std::string> Errors() const;
  std::string ClientCertSubject() const;
  TPeerCounters Counters() const;

  // The prmNth (1-based) message with this code byte, once it has arrived within the timeout.
  std::optional<TPeerMessage> WaitForMessage(uint32_t prmCode, int prmTimeoutMs, int prmNth = 1);
  bool WaitForLogRecords(size_t prmCount, int prmTimeoutMs);
  bool WaitForHttpRequest(int prmTimeoutMs);
  // Waits until prmDone holds for the counters. prmDone runs without the recorder's lock, so it
  // may call any accessor (for example count received messages).
  bool WaitForCounters(const std::function<bool(const TPeerCounters&)>& prmDone, int prmTimeoutMs);

 private:
  template <typename Pred>
  bool WaitUntil(int prmTimeoutMs, Pred prmDone);

  mutable std::mutex m_Lock;
  std::condition_variable m_Changed;
  std::vector<TPeerMessage> m_Messages;
  std::vector<TLogRecord> m_LogRecords;
  std::vector<std::string> m_HttpRequests;
  std::vector<std::string> m_Errors;
  std::string m_ClientCertSubject;
  TPeerCounters m_Counters;
  uint64_t m_Version = 0;  // changes with every record or counter update
  TLogCallback m_LogCallback;
};

}  // namespace vantrel::testpeer
