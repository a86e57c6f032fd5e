// THost: one registered desktop from the availability server's desktop list, with what is needed
// to connect to it and its availability status, which it can refresh through the availability
// server and, after a power-up request, poll until the desktop is ready.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/HostOwner.h"
#include "catalogue/OstraQuery.h"
#include "catalogue/ParamList.h"
#include "catalogue/ProvParamsIndex.h"
#include "platform/Event.h"
#include "platform/Window.h"

namespace vantrel {

class TXmlNode;
class TXmlDoc;

// Host status values, as posted to the session and passed on to the page.
constexpr int HOST_STATUS_UNKNOWN = 0;         // query failed, or a state allowing no connection
constexpr int HOST_STATUS_AVAILABLE = 1;       // can be connected to now
constexpr int HOST_STATUS_POWERED_OFF = 2;     // not running, can be powered up
constexpr int HOST_STATUS_POWERING_UP = 3;     // power-up requested, wake-up monitor polling
constexpr int HOST_STATUS_CONNECTED = 5;       // set elsewhere; treated like 1 before a connection
constexpr int HOST_STATUS_DISCONNECTED = 7;    // set by the launch when the RDP session ended
constexpr int HOST_STATUS_VERIFYING = 8;       // state query running before a connection
constexpr int HOST_STATUS_POWERUP_FAILED = 9;  // wake-up ended without the desktop available

// Desktop states of the availability server ("State" in the list and in replies).
constexpr int OSTRA_STATE_OFF = 0;
constexpr int OSTRA_STATE_STOPPED = 1;
constexpr int OSTRA_STATE_STARTING = 2;
constexpr int OSTRA_STATE_RUNNING = 3;
constexpr int OSTRA_STATE_FAILED = 4;

constexpr int WAKEUP_POLL_INTERVAL_MS = 5000;

// What the desktops of one list share while it is read: the provider-parameter lookup, read
// once, and the room left for their lists (kMaxReplyListBytes).
struct THostListState {
  TProvParamsIndex ProvParams;
  size_t ListBytesLeft = kMaxReplyListBytes;
};

// Request threads (state query, wake-up monitor) are owned by the host: StopRequests and the
// destructor end their waits and join them, so no thread outlives its host, and the owner stops
// its hosts before it goes (IHostOwner). The address, credentials, session number and status are
// written by those threads and read by launches on others, hence the lock and the atomics.
class THost {
 public:
  // prmList (may be null: a list of its own) is shared by the hosts of one list.
  THost(IHostOwner& prmOwner, int prmIndex, const TXmlNode& prmHost,
        THostListState* prmList = nullptr);
  ~THost();
  THost(const THost&) = delete;
  THost& operator=(const THost&) = delete;

  int GetIndex() const { return m_Index; }
  const std::string& GetID() const { return m_ID; }
  const std::string& GetID_Original() const { return m_ID_Original; }
  const std::string& GetDesc() const { return m_Desc; }
  std::string GetHost() const;
  int GetDaysLeft() const { return m_DaysLeft; }
  std::string GetUsername() const;
  std::string GetPwd() const;
  std::string GetDomain() const;
  int GetProtocol() const { return m_Proto; }
  const std::string& GetProvider() const { return m_Provider; }
  // Provider names are compared exactly, as the server writes them: the availability check and
  // the launch must agree on what a provider is ("xendesktop" is no XenDesktop desktop).
  bool IsProvider(const char* prmName) const { return m_Provider == prmName; }
  const TStringList& GetParameters() const { return m_Parameters; }
  int GetState() const { return m_State; }
  int GetSessID() const { return m_SessID; }
  int GetStatus() const { return m_Status; }
  HWND Getform() const { return m_Form; }
  const std::string& GetProviderID() const { return m_ProviderID; }
  const std::string& GetDesktopID() const { return m_DesktopID; }
  const TStringList& GetProviderParams() const { return m_ProviderParams; }

  void SetSessID(int prmID) { m_SessID = prmID; }
  void SetForm(HWND prmForm) { m_Form = prmForm; }

  // The address to name in availability queries: m_ID when it is a dotted IPv4 address, else
  // the owner's resolution of it, else m_ID unchanged.
  std::string GetID_DNSHost();
  // The store's RDP port unless "Params" carries an integer "_PORT"; kNoPort for an integer
  // outside 1..65535 there (or in the list's "RDPPort"), which the launch refuses.
  int GetPort() const;

  // Stores the status and posts it to the owner; never blocks.
  void SetStatus(int prmStatus);

  // Each starts a thread running the matching Do... once and returns at once; after
  // StopRequests they start nothing.
  void RefreshState();
  void MonitorWakeup();
  // The state query made before a connection (status 8 while it runs).
  void DoRefreshState();
  // Polls the availability server after a power-up until the desktop is ready, failed, or the
  // host or its owner stops.
  void DoMonitorWakeup();

  // The session's operations on this desktop (run on its window thread).
  // Decides from provider and status whether the desktop is available now or must be queried.
  void BeforeConnect();
  // Asks the availability server to power the desktop up and starts the wake-up monitor.
  void PowerupDesktop();
  // Asks the availability server to delete the desktop; the reply is not examined.
  bool DelDesktop();

  // Ends waits of the request threads and joins them. Idempotent. Not from a request thread
  // (the owner's callbacks run on them), which cannot join itself.
  void StopRequests();
  // Test hook: the pause between wake-up polls.
  void SetWakeupPollInterval(int prmMs) { m_PollIntervalMs = prmMs; }

 private:
  struct TRequestThread {
    std::thread Thread;
    std::shared_ptr<std::atomic<bool>> Done;
  };

  void ReadSessInfo(const std::string& prmSessInfo);
  void ReadProviderParams(const TXmlNode& prmHost, THostListState& prmList);
  void StartRequest(void (THost::*prmBody)(), const char* prmName);
  bool Stopping() const;
  TEvent& StopEvent();
  // Waits the poll interval; false when stopped meanwhile.
  bool PauseBetweenPolls();
  // Fetches prmURL and parses the reply. False when the fetch failed (prmFailText set) or the
  // host is stopping (prmFailText empty); a reply that is not XML gives true and an invalid doc.
  bool Fetch(const std::string& prmURL, TXmlDoc& prmDoc, std::string& prmFailText);
  // Ends a query or monitor: no session number is held any more, and the status is posted.
  void EndQuery(int prmStatus);
  // A reply that was not XML: the log line, and a status so the user is not left waiting.
  void EndWithInvalidReply(const char* prmLogLine, int prmStatus);
  // A failed fetch of the state query or the monitor: error 17 and status 0.
  void EndWithFetchFailure(const char* prmWhat, const std::string& prmFailText);
  std::string ReadLocked(const std::string& prmField) const;
  void SetHost(const std::string& prmHost);
  void ApplyVDICreds(const TXmlNode& prmStateSess);
  std::string AvailQueryForRefresh(const std::string& prmPwd);
  // The common head of the power-up and delete requests.
  TOstraQuery ObjectRequest(const char* prmPath, const std::string& prmObjID);

  IHostOwner& m_Owner;
  int m_Index;
  std::string m_ID;
  std::string m_ID_Original;
  std::string m_Desc;
  int m_DaysLeft = 0;
  std::string m_Provider;
  int m_Proto = 0;
  TStringList m_Parameters;
  int m_State = 0;
  std::string m_ProviderID;
  std::string m_DesktopID;
  TStringList m_ProviderParams;
  std::atomic<HWND> m_Form{nullptr};

  mutable std::mutex m_DataLock;  // guards the four texts below
  std::string m_Host;
  std::string m_Username;
  std::string m_Pwd;
  std::string m_Domain;
  std::atomic<int> m_SessID{-1};
  std::atomic<int> m_Status{HOST_STATUS_UNKNOWN};

  std::atomic<int> m_PollIntervalMs{WAKEUP_POLL_INTERVAL_MS};
  // The stop event is made by the first wait on it: an event holds a descriptor, and a list of
  // thousands of desktops must not hold thousands of them. Kept until destruction.
  std::atomic<bool> m_Stopped{false};
  std::unique_ptr<TEvent> m_StopEvent;
  std::mutex m_ThreadsLock;
  std::vector<TRequestThread> m_Threads;
};

// Reads "Hosts" from the desktop-list reply's root: its "RDPPort" into the store (default: the
// store's current port), then one host per "Host" below it, in document order, indexed from 0.
// Their parameter lists share kMaxReplyListBytes; entries past it are left out, with a log line.
std::vector<std::unique_ptr<THost>> LoadHosts(const TXmlNode& prmRoot, IHostOwner& prmOwner);

}  // namespace vantrel
