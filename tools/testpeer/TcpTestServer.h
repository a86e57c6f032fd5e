// Plain TCP servers on a loopback port for tests behind the gateway peer: an echo server, a sink
// that counts what it receives, and a source that sends a fixed number of pattern bytes to every
// connection and then closes it. One poll() thread serves every connection; nothing is buffered
// beyond what the peer has not yet read back.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "diag/SpareFd.h"
#include "platform/Event.h"

namespace vantrel::testpeer {

enum class TTcpServerMode { Echo, Sink, Source };

struct TTcpServerCounters {
  int Accepted = 0;
  int Closed = 0;  // connections ended by the remote side or by an error
  uint64_t BytesReceived = 0;
  uint64_t BytesSent = 0;
};

class TTcpTestServer {
 public:
  // prmSourceBytes: what Source mode sends on each connection.
  explicit TTcpTestServer(TTcpServerMode prmMode, uint64_t prmSourceBytes = 0);
  ~TTcpTestServer();  // stops and joins
  TTcpTestServer(const TTcpTestServer&) = delete;
  TTcpTestServer& operator=(const TTcpTestServer&) = delete;

  // Listens on 127.0.0.1 (any free port) and starts serving; raises EBaseException on failure.
  uint16_t Start();
  void Stop();
  uint16_t Port() const { return m_Port; }

  TTcpServerCounters Counters() const;
  bool WaitFor(const std::function<bool(const TTcpServerCounters&)>& prmDone, int prmTimeoutMs);

  // Byte i of what Source mode sends; tests compare what arrived with it.
  static uint8_t PatternByte(uint64_t prmIndex) { return static_cast<uint8_t>(prmIndex * 7 + 3); }

 private:
  void ServeThd();
  void Change(const std::function<void(TTcpServerCounters&)>& prmChange);

  const TTcpServerMode m_Mode;
  const uint64_t m_SourceBytes;
  int m_ListenFd = -1;
  // Held from construction, so the descriptors a test counts do not change under it.
  TSpareFd m_Spare;
  uint16_t m_Port = 0;
  TEvent m_Stop{true};
  std::thread m_Thread;
  mutable std::mutex m_Lock;
  std::condition_variable m_Changed;
  TTcpServerCounters m_Counters;
};

}  // namespace vantrel::testpeer
