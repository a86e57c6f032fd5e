// The reference availability server for tests: plain HTTP/1.1 on a loopback port, answering the
// client's information, catalogue, state, power-up, deletion, profile, verification, application
// server and icon requests from its scenario, recording every request, and misbehaving per path
// on request (HTTP errors, truncated or malformed bodies, delays, silence).
//
// Typical use in a test:
//   TAvailScenario sc;                        // or AvailScenarioFromJson(R"({"hosts": [...]})")
//   sc.Hosts.push_back(desk);                 // desk.AvailStates = {2, 2, 3}
//   TAvailabilityServer avail(sc);
//   uint16_t port = avail.Start();            // the store's server is "127.0.0.1:<port>"
//   ... run the client ...
//   auto r = avail.WaitForRequest("/query/hosts", 5000);
//   EXPECT_EQ(r->Param("_uname"), "bob");
//   avail.SetAvailStates("10.0.0.5", {2, 4});  // the next wake-up ends with status 9
//
// Threads: one accept thread and one thread per connection; connections are numbered from 1 in
// accept order and serve requests one after another (keep-alive unless the client or the reply
// closes). Stop() (and the destructor) ends and joins every thread, silent ones included; no wait
// of the server is unbounded.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "testpeer/AvailabilityHttp.h"
#include "testpeer/AvailabilityScenario.h"
#include "testpeer/AvailabilityState.h"

namespace vantrel::testpeer {

struct TAvailRequest : THttpRequest {
  int Connection = 0;  // 1 for the first connection accepted, then 2, ...
  int Index = 0;       // arrival order over all connections, from 1
};

class TAvailabilityServer {
 public:
  explicit TAvailabilityServer(TAvailScenario prmScenario = {});
  // Raises EBaseException for invalid scenario text.
  explicit TAvailabilityServer(const std::string& prmScenarioJson);
  ~TAvailabilityServer();
  TAvailabilityServer(const TAvailabilityServer&) = delete;
  TAvailabilityServer& operator=(const TAvailabilityServer&) = delete;

  // Binds, listens and starts accepting; returns the bound port. Raises EBaseException when the
  // address or the port cannot be used. Called once.
  uint16_t Start();
  // Closes every connection and joins every thread. Idempotent.
  void Stop();
  uint16_t Port() const { return m_Port; }
  const std::string& Address() const { return m_Address; }
  // "address:port", the form the client's store holds.
  std::string HostPort() const { return m_Address + ":" + std::to_string(m_Port); }

  // --- Observations (thread-safe) ---
  std::vector<TAvailRequest> Requests() const;
  std::vector<TAvailRequest> Requests(const std::string& prmPath) const;
  // The prmNth (1-based) request for prmPath, once it has arrived within the timeout.
  std::optional<TAvailRequest> WaitForRequest(const std::string& prmPath, int prmTimeoutMs,
                                              int prmNth = 1);
  bool WaitForRequestCount(size_t prmCount, int prmTimeoutMs);
  // Garbage refused, unknown paths and desktops, connections turned away; one line each.
  std::vector<std::string> Errors() const;
  int ConnectionsAccepted() const;

  // Called on the connection's thread for each request as it arrives, before it is answered,
  // without the server's lock held (set before Start).
  using TRequestCallback = std::function<void(const TAvailRequest&)>;
  void SetRequestCallback(TRequestCallback prmCallback) {
    m_RequestCallback = std::move(prmCallback);
  }

  // --- Scenario and state (thread-safe; changes apply to later requests) ---
  TAvailScenario Scenario() const;
  void UpdateScenario(const std::function<void(TAvailScenario&)>& prmChange);
  bool SetAvailStates(const std::string& prmHost, std::vector<int> prmStates);
  // Skip counts from the requests already made to the fault's path, so a fault added now
  // shapes the path's next requests (faults of the scenario itself count from Start).
  void AddFault(TAvailFault prmFault);
  void ClearFaults();
  std::map<std::string, std::string> UserProfiles() const;
  std::map<std::string, std::string> Icons() const;
  std::vector<std::string> DeletedHosts() const;
  int PowerUps(const std::string& prmHost) const;
  // The unmasked "_clv" of each host-list request, in arrival order.
  std::vector<std::string> ClvAnswers() const;

 private:
  struct TConnSlot {
    std::shared_ptr<std::atomic<bool>> Done;
    std::thread Thread;
  };
  // What one request gets: the answer, the fault that shapes it (if any) and whether the
  // answer was computed at all (faults that replace the reply leave the state untouched).
  struct TPlan {
    TAvailAnswer Answer;
    std::optional<TAvailFault> Fault;
  };

  void AcceptThd();
  void ConnectionThd(int prmFd, int prmConnection);
  void ServeConnection(int prmFd, int prmConnection);
  TPlan Record(THttpRequest prmRequest, int prmConnection);
  bool Reply(int prmFd, const THttpRequest& prmRequest, const TPlan& prmPlan);
  void AddError(int prmConnection, const std::string& prmText);
  void ReapConnections();

  mutable std::mutex m_Lock;
  std::condition_variable m_Changed;
  TAvailabilityState m_State;
  std::vector<TAvailRequest> m_Requests;
  std::map<std::string, int> m_PathCounts;
  std::vector<std::string> m_Errors;
  int m_ConnectionCount = 0;
  TRequestCallback m_RequestCallback;

  TEvent m_Stop{true};
  int m_ListenFd = -1;
  uint16_t m_Port = 0;
  std::string m_Address;
  std::thread m_AcceptThread;
  std::mutex m_ConnsLock;
  std::vector<TConnSlot> m_Conns;
};

}  // namespace vantrel::testpeer
