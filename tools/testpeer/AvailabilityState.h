// What the availability peer answers, apart from sockets and faults: it turns one parsed request
// into a status and a body from its scenario, and keeps what requests change (state-query
// sessions, each desktop's place in its state sequence, deleted desktops, stored profiles and
// icons). Not thread-safe; the server serialises calls.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "testpeer/AvailabilityHttp.h"
#include "testpeer/AvailabilityScenario.h"

namespace vantrel::testpeer {

struct TAvailAnswer {
  int Status = 200;
  std::string Body;
  std::string ContentType = "text/xml";
};

class TAvailabilityState {
 public:
  explicit TAvailabilityState(TAvailScenario prmScenario);

  // prmErrors gets one line for each thing the peer found wrong with the request (unknown path
  // or desktop, missing parameter); the answer is still given, as a real server would.
  TAvailAnswer Handle(const THttpRequest& prmRequest, std::vector<std::string>& prmErrors);

  const TAvailScenario& Scenario() const { return m_Scenario; }
  // Changes apply to later requests; desktops keep their place in their state sequences.
  TAvailScenario& MutableScenario() { return m_Scenario; }

  // Replaces a desktop's state sequence and starts it from its first state. False when no
  // desktop has that ID or address.
  bool SetAvailStates(const std::string& prmHost, std::vector<int> prmStates);
  std::map<std::string, std::string> UserProfiles() const { return m_Profiles; }
  std::map<std::string, std::string> Icons() const { return m_Icons; }
  std::vector<std::string> DeletedHosts() const { return m_Deleted; }
  int PowerUps(const std::string& prmHost) const;
  // The verification answers the host-list requests carried, unmasked with the build's answer
  // key, in arrival order (empty ones included).
  std::vector<std::string> ClvAnswers() const { return m_ClvAnswers; }

 private:
  TAvailHost* FindHost(const std::string& prmIdOrAddress);
  static std::string Key(const TAvailHost& prmHost);
  // The desktop named by "_objid"; none (and an error line) when no desktop has that name.
  const TAvailHost* NamedHost(const THttpRequest& prmRequest, const std::string& prmWhat,
                              std::vector<std::string>& prmErrors);
  int NewSession(const TAvailHost& prmHost);
  int NextState(const TAvailHost& prmHost);

  TAvailAnswer Info() const;
  TAvailAnswer Hosts(const THttpRequest& prmRequest, std::vector<std::string>& prmErrors);
  TAvailAnswer NewStateSession(const THttpRequest& prmRequest, std::vector<std::string>& prmErrors);
  TAvailAnswer Avail(const THttpRequest& prmRequest, std::vector<std::string>& prmErrors);
  TAvailAnswer PowerUp(const THttpRequest& prmRequest, std::vector<std::string>& prmErrors);
  TAvailAnswer Delete(const THttpRequest& prmRequest, std::vector<std::string>& prmErrors);
  TAvailAnswer QueryProfile(const THttpRequest& prmRequest);
  TAvailAnswer AgentInfo(int prmType) const;
  TAvailAnswer StoreProfile(const THttpRequest& prmRequest, std::vector<std::string>& prmErrors);
  TAvailAnswer Policy() const;
  TAvailAnswer AppServer(const THttpRequest& prmRequest) const;
  TAvailAnswer IconCheck(const THttpRequest& prmRequest) const;
  TAvailAnswer IconUpload(const THttpRequest& prmRequest, std::vector<std::string>& prmErrors);
  TAvailAnswer IconFetch(const THttpRequest& prmRequest) const;
  TAvailAnswer PortalPage() const;
  TAvailAnswer PortalSessionFile() const;

  TAvailScenario m_Scenario;
  std::map<std::string, std::string> m_Profiles;
  std::map<std::string, std::string> m_Icons;
  std::map<int, std::string> m_Sessions;  // session number -> desktop key
  int m_LastSession = 0;
  std::map<std::string, size_t> m_StateCursor;  // desktop key -> next index in AvailStates
  std::map<std::string, int> m_PowerUps;
  std::vector<std::string> m_Deleted;  // desktop keys, in deletion order
  std::vector<std::string> m_ClvAnswers;
};

}  // namespace vantrel::testpeer
