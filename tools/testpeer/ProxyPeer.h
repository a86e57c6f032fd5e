// A scripted HTTP proxy for the CONNECT tests: each step takes one request (up to its blank
// line), records its exact bytes and answers the step's exact reply bytes, at once or one byte
// at a time. A step may then close the connection; a request that finds its connection closed by
// the client is taken from the next accepted one. After the last step the connection echoes,
// standing for the tunnel. One thread serves the script; every wait is bounded.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::testpeer {

struct TProxyStep {
  TProxyStep(std::string prmReply, bool prmClose = false, std::string prmLater = {},
             int prmDripMs = 0)
      : Reply(std::move(prmReply)),
        Close(prmClose),
        Later(std::move(prmLater)),
        DripMs(prmDripMs) {}
  std::string Reply;
  bool Close;         // close the connection after the reply
  std::string Later;  // sent a moment after Reply, so that it arrives in a later read
  int DripMs;  // > 0: Reply goes one byte at a time, this long apart, until the client leaves
};

class TProxyPeer {
 public:
  explicit TProxyPeer(std::vector<TProxyStep> prmScript);
  ~TProxyPeer();  // stops and joins
  TProxyPeer(const TProxyPeer&) = delete;
  TProxyPeer& operator=(const TProxyPeer&) = delete;

  // Listens on 127.0.0.1 (any free port) and starts; raises EBaseException on failure.
  uint16_t Start();
  // The requests received so far, each with the number of the connection it came on (1-based).
  struct TRequest {
    int Connection = 0;
    std::string Bytes;
  };
  std::vector<TRequest> Requests() const;
  // Waits (bounded) until the peer has served the script or the client went away for good.
  void WaitDone(int prmTimeoutMs);

 private:
  void ServeThd();
  int AcceptNext();
  // One request's bytes, or false when the connection closed (or the peer is stopping).
  bool ReadRequest(int prmFd, std::string& prmOut);
  void Echo(int prmFd);
  void Drip(int prmFd, const std::string& prmBytes, int prmGapMs);

  std::vector<TProxyStep> m_Script;
  int m_ListenFd = -1;
  std::atomic<bool> m_Stop{false};
  std::atomic<bool> m_Done{false};
  std::thread m_Thread;
  mutable std::mutex m_Lock;
  std::vector<TRequest> m_Requests;
  int m_Connections = 0;
};

}  // namespace vantrel::testpeer
