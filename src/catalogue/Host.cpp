#include "catalogue/Host.h"

#include <system_error>

#include "catalogue/MaskUnmask.h"
#include "config/DbMng.h"
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "diag/TextCodecs.h"
#include "diag/ThreadEntry.h"
#include "diag/Xml.h"

namespace vantrel {

namespace {

int InitialStatus(int prmState) {
  switch (prmState) {
    case OSTRA_STATE_OFF:
    case OSTRA_STATE_STOPPED:
      return HOST_STATUS_POWERED_OFF;
    case OSTRA_STATE_STARTING:
      return HOST_STATUS_POWERING_UP;
    case OSTRA_STATE_RUNNING:
      return HOST_STATUS_AVAILABLE;
    default:
      return HOST_STATUS_UNKNOWN;
  }
}

// One Base64 half of "SessInfo", unmasked. A half the decoder refuses gives empty text: the
// credentials are optional and a bad half must not stop the list from loading.
std::string UnmaskHalf(std::string_view prmHalf) {
  try {
    TBytes raw = Base64Decode(prmHalf);
    return MaskUnmaskStr(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()));
  } catch (const EBaseException&) {
    WriteDebugLog("THost.Create - malformed session info");
    return {};
  }
}

}  // namespace

THost::THost(IHostOwner& prmOwner, int prmIndex, const TXmlNode& prmHost, THostListState* prmList)
    : m_Owner(prmOwner), m_Index(prmIndex) {
  THostListState ownList;
  THostListState& list = prmList != nullptr ? *prmList : ownList;
  m_ID = prmHost.Attr("ID");
  m_ID_Original = m_ID;
  m_Host = prmHost.Text();
  m_Desc = prmHost.HasAttr("Desc") ? prmHost.Attr("Desc") : m_Host;
  m_DaysLeft = prmHost.AttrInt("Days", 0);
  m_Proto = prmHost.AttrInt("Protocol", 0);
  m_State = prmHost.AttrInt("State", 0);
  m_Provider = prmHost.Attr("Provider");
  m_ProviderID = prmHost.Attr("ProviderID");
  m_DesktopID = prmHost.Attr("desktopID");
  m_Parameters = SplitParamList(prmHost.Attr("Params"), list.ListBytesLeft);
  ReadSessInfo(prmHost.Attr("SessInfo"));
  m_Status = InitialStatus(m_State);
  ReadProviderParams(prmHost, list);
}

THost::~THost() {
  StopRequests();
}

void THost::ReadSessInfo(const std::string& prmSessInfo) {
  size_t at = prmSessInfo.find('@');
  if (at == std::string::npos) return;
  m_Username = UnmaskHalf(std::string_view(prmSessInfo).substr(0, at));
  m_Pwd = UnmaskHalf(std::string_view(prmSessInfo).substr(at + 1));
}

void THost::ReadProviderParams(const TXmlNode& prmHost, THostListState& prmList) {
  // Once the room is gone, shared lists are not even read again for every desktop.
  if (prmList.ListBytesLeft == 0) return;
  TXmlNode prov = prmList.ProvParams.Find(prmHost, m_ID);
  if (!prov) return;
  for (const TXmlNode& child : prov.Children()) {
    std::string text = child.Text();
    if (text.empty()) continue;
    std::string entry = child.Name() + "=" + text;
    if (!TakeListRoom(prmList.ListBytesLeft, entry)) return;
    m_ProviderParams.push_back(std::move(entry));
  }
}

std::string THost::ReadLocked(const std::string& prmField) const {
  std::lock_guard<std::mutex> g(m_DataLock);
  return prmField;
}

std::string THost::GetHost() const {
  return ReadLocked(m_Host);
}
std::string THost::GetUsername() const {
  return ReadLocked(m_Username);
}
std::string THost::GetPwd() const {
  return ReadLocked(m_Pwd);
}
std::string THost::GetDomain() const {
  return ReadLocked(m_Domain);
}

void THost::SetHost(const std::string& prmHost) {
  std::lock_guard<std::mutex> g(m_DataLock);
  m_Host = prmHost;
}

std::string THost::GetID_DNSHost() {
  auto resolve = [this](const std::string& prmHost) { return m_Owner.ResolveHost(prmHost); };
  // A name not found, or not resolved yet, is queried as it is.
  std::string addr;
  return ResolveDotted(m_ID, resolve, addr) ? addr : m_ID;
}

int THost::GetPort() const {
  return PortOr(ParamValue(m_Parameters, "_PORT"), m_Owner.GetDBMng().GetRDPPort());
}

void THost::SetStatus(int prmStatus) {
  m_Status = prmStatus;
  m_Owner.PostHostStatus(m_Index, prmStatus);
}

void THost::StartRequest(void (THost::*prmBody)(), const char* prmName) {
  std::lock_guard<std::mutex> g(m_ThreadsLock);
  if (m_Stopped) return;
  // Finished threads are joined here so a long session does not collect them.
  std::erase_if(m_Threads, [](TRequestThread& t) {
    if (!t.Done->load()) return false;
    t.Thread.join();
    return true;
  });
  // Room first, so that a started thread is always recorded and later joined.
  m_Threads.reserve(m_Threads.size() + 1);
  auto done = std::make_shared<std::atomic<bool>>(false);
  std::thread t;
  try {
    t = std::thread([this, prmBody, prmName, done] {
      RunGuarded((std::string("THost.") + prmName).c_str(),
                 [this, prmBody] { (this->*prmBody)(); });
      done->store(true);
    });
  } catch (const std::system_error& e) {
    WriteDebugLog(std::string("THost.") + prmName + " - could not start: " + e.what());
    return;
  }
  m_Threads.push_back({std::move(t), std::move(done)});
}

void THost::RefreshState() {
  StartRequest(&THost::DoRefreshState, "RefreshState");
}

void THost::MonitorWakeup() {
  StartRequest(&THost::DoMonitorWakeup, "MonitorWakeup");
}

void THost::StopRequests() {
  std::vector<TRequestThread> threads;
  {
    std::lock_guard<std::mutex> g(m_ThreadsLock);
    m_Stopped = true;
    if (m_StopEvent) m_StopEvent->Set();
    threads.swap(m_Threads);
  }
  for (TRequestThread& t : threads)
    if (t.Thread.joinable()) t.Thread.join();
}

bool THost::Stopping() const {
  return m_Stopped || m_Owner.GetStopEvent().IsSet();
}

bool THost::PauseBetweenPolls() {
  return WaitForAny({&StopEvent(), &m_Owner.GetStopEvent()}, m_PollIntervalMs) < 0;
}

TEvent& THost::StopEvent() {
  std::lock_guard<std::mutex> g(m_ThreadsLock);
  if (!m_StopEvent) {
    m_StopEvent = std::make_unique<TEvent>(true);
    if (m_Stopped) m_StopEvent->Set();
  }
  return *m_StopEvent;
}

std::vector<std::unique_ptr<THost>> LoadHosts(const TXmlNode& prmRoot, IHostOwner& prmOwner) {
  std::vector<std::unique_ptr<THost>> hosts;
  TXmlNode list = prmRoot.FindFirst("Hosts");
  if (!list) return hosts;
  TDBMng& store = prmOwner.GetDBMng();
  store.SetRDPPort(PortOr(list.Attr("RDPPort"), store.GetRDPPort()));
  THostListState state;
  for (const TXmlNode& host : list.FindAll("Host"))
    hosts.push_back(
        std::make_unique<THost>(prmOwner, static_cast<int>(hosts.size()), host, &state));
  if (state.ListBytesLeft == 0) WriteDebugLog("LoadHosts - parameter lists cut short: too large");
  return hosts;
}

}  // namespace vantrel
