// The availability-server requests about one desktop: the state query before a connection, the
// wake-up monitor after a power-up, and the power-up and delete requests.
#include "catalogue/Host.h"
#include "catalogue/OstraQuery.h"
#include "catalogue/TCSCodes.h"
#include "config/DbMng.h"
#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "diag/Xml.h"

namespace vantrel {

namespace {

constexpr const char* kNoOstraServer = "Ostra is enabled, but Ostra server is not specified";

// The element itself when the reply's root is the one looked for, else the first below it.
TXmlNode FindInReply(const TXmlDoc& prmDoc, std::string_view prmName) {
  TXmlNode root = prmDoc.Root();
  if (root && SameText(root.Name(), prmName)) return root;
  return root.FindFirst(prmName);
}

// The "State" of the reply's "StateSess"; a reply without one counts as state 0.
int ReplyState(const TXmlDoc& prmDoc, TXmlNode& prmStateSess) {
  prmStateSess = FindInReply(prmDoc, "StateSess");
  return prmStateSess ? prmStateSess.AttrInt("State", OSTRA_STATE_OFF) : OSTRA_STATE_OFF;
}

}  // namespace

bool THost::Fetch(const std::string& prmURL, TXmlDoc& prmDoc, std::string& prmFailText) {
  prmFailText.clear();
  if (Stopping()) return false;
  std::string body;
  bool ok = m_Owner.FetchOstra(prmURL, body, prmFailText);
  // A fetch cut short by the owner going reports nothing: nobody is left to tell.
  if (Stopping()) {
    prmFailText.clear();
    return false;
  }
  if (!ok) return false;
  prmDoc = TXmlDoc::ParseBytes(body.data(), body.size());
  return true;
}

void THost::EndQuery(int prmStatus) {
  m_SessID = -1;
  SetStatus(prmStatus);
}

void THost::EndWithInvalidReply(const char* prmLogLine, int prmStatus) {
  WriteDebugLog(prmLogLine);
  EndQuery(prmStatus);
}

void THost::EndWithFetchFailure(const char* prmWhat, const std::string& prmFailText) {
  m_Owner.ReportError(TCS_ERR_DESKTOP_STATE, prmWhat + prmFailText);
  EndQuery(HOST_STATUS_UNKNOWN);
}

void THost::ApplyVDICreds(const TXmlNode& prmStateSess) {
  std::string host = prmStateSess.Attr("Host");
  std::string user = prmStateSess.Attr("VDIUser");
  std::string pwd = prmStateSess.Attr("VDIPwd");
  std::string domain = prmStateSess.Attr("VDIDomain");
  std::lock_guard<std::mutex> g(m_DataLock);
  if (!host.empty()) m_Host = host;
  if (!user.empty()) m_Username = user;
  if (!pwd.empty()) m_Pwd = pwd;
  if (!domain.empty()) m_Domain = domain;
}

std::string THost::AvailQueryForRefresh(const std::string& prmPwd) {
  TDBMng& store = m_Owner.GetDBMng();
  return TOstraQuery(store.GetOstraServer(), "/query/avail")
      .Add("_instid", store.GetOstraInstance())
      .Add("_sessid", m_SessID)
      .Add("_port", GetPort())
      .Add("_prov", m_Provider)
      .Add("_provid", m_ProviderID)
      .Add("_deskid", m_DesktopID)
      .Add("_uname", m_Owner.GetUsername(false))
      .Add("_pid", prmPwd)
      .URL();
}

void THost::DoRefreshState() {
  TDBMng& store = m_Owner.GetDBMng();
  if (store.GetOstraServer().empty()) {
    WriteDebugLog(kNoOstraServer);
    return;
  }
  std::string url = TOstraQuery(store.GetOstraServer(), "/object/newstatesess")
                        .Add("_instid", store.GetOstraInstance())
                        .Add("_objid", GetID_DNSHost())
                        .Add("_uname", m_Owner.GetUsername(true))
                        .Add("_prov", m_Provider)
                        .Add("_provid", m_ProviderID)
                        .Add("_deskid", m_DesktopID)
                        .URL();
  TXmlDoc doc;
  std::string fail;
  if (Fetch(url, doc, fail)) {
    if (!doc.IsValid())
      return EndWithInvalidReply("RefreshDesktopState - received invalid response",
                                 HOST_STATUS_UNKNOWN);
    TXmlNode sess = FindInReply(doc, "StateSess");
    if (sess)
      m_SessID = sess.AttrInt("ID", -1);
    else
      WriteDebugLog("RefreshDesktopState - Could not find a session state");
  } else {
    if (Stopping()) return;
    m_Owner.ReportError(TCS_ERR_DESKTOP_STATE, "Refresh Desktop State 1 - " + fail);
  }

  WriteDebugLog("RefreshDesktopState - " + AvailQueryForRefresh("XXXX"));
  if (!Fetch(AvailQueryForRefresh(m_Owner.GetPassword(false)), doc, fail)) {
    if (!Stopping()) EndWithFetchFailure("Refresh Desktop State 2 - ", fail);
    return;
  }
  if (!doc.IsValid())
    return EndWithInvalidReply("RefreshDesktopState - received invalid response",
                               HOST_STATUS_UNKNOWN);
  TXmlNode sess;
  int state = ReplyState(doc, sess);
  if (state == OSTRA_STATE_STOPPED)
    return EndQuery(store.GetEnablePowerMng() ? HOST_STATUS_POWERED_OFF : HOST_STATUS_UNKNOWN);
  if (state == OSTRA_STATE_RUNNING) ApplyVDICreds(sess);
  EndQuery(state == OSTRA_STATE_RUNNING ? HOST_STATUS_AVAILABLE : HOST_STATUS_UNKNOWN);
}

void THost::DoMonitorWakeup() {
  TDBMng& store = m_Owner.GetDBMng();
  if (store.GetOstraServer().empty()) {
    WriteDebugLog(kNoOstraServer);
    return;
  }
  // Built once: the session number and credentials of the power-up stay those of every poll.
  const std::string url = TOstraQuery(store.GetOstraServer(), "/query/avail")
                              .Add("_instid", store.GetOstraInstance())
                              .Add("_sessid", m_SessID)
                              .Add("_objid", GetID_DNSHost())
                              .Add("_port", GetPort())
                              .Add("_prov", m_Provider)
                              .Add("_provid", m_ProviderID)
                              .Add("_deskid", m_DesktopID)
                              .Add("_uname", m_Owner.GetUsername(true))
                              .Add("_pid", m_Owner.GetPassword(true))
                              .URL();
  for (;;) {
    TXmlDoc doc;
    std::string fail;
    if (!Fetch(url, doc, fail)) {
      if (Stopping()) break;
      return EndWithFetchFailure("Wakeup monitor - ", fail);
    }
    if (!doc.IsValid())
      return EndWithInvalidReply("MonitorWakeup - received invalid response",
                                 HOST_STATUS_POWERUP_FAILED);
    TXmlNode sess;
    int state = ReplyState(doc, sess);
    if (state == OSTRA_STATE_OFF || state == OSTRA_STATE_STOPPED || state == OSTRA_STATE_FAILED)
      return EndQuery(HOST_STATUS_POWERUP_FAILED);
    if (state == OSTRA_STATE_RUNNING) {
      std::string host = sess.Attr("Host");
      if (!host.empty()) SetHost(host);
      return EndQuery(HOST_STATUS_AVAILABLE);
    }
    if (!PauseBetweenPolls()) break;
  }
  WriteDebugLog("MonitorWakeup - stopped");
}

void THost::BeforeConnect() {
  if (IsProvider("XenDesktop") || m_Status == HOST_STATUS_CONNECTED)
    return SetStatus(HOST_STATUS_AVAILABLE);
  if (IsProvider("VMView") || m_Owner.GetDBMng().GetEnablePowerMng()) {
    SetStatus(HOST_STATUS_VERIFYING);
    return RefreshState();
  }
  SetStatus(HOST_STATUS_AVAILABLE);
}

TOstraQuery THost::ObjectRequest(const char* prmPath, const std::string& prmObjID) {
  TDBMng& store = m_Owner.GetDBMng();
  TOstraQuery q(store.GetOstraServer(), prmPath);
  q.AddEncoded("_instid", store.GetOstraInstance())
      .Add("_objid", prmObjID)
      .AddEncoded("_uname", m_Owner.GetUsername(true))
      .Add("_prov", m_Provider)
      .Add("_provid", m_ProviderID)
      .Add("_deskid", m_DesktopID);
  return q;
}

void THost::PowerupDesktop() {
  if (m_Owner.GetDBMng().GetOstraServer().empty()) return;
  std::string url =
      ObjectRequest("/object/powerup", m_ID_Original).AddEncoded("_desc", m_Desc).URL();
  TXmlDoc doc;
  std::string fail;
  if (!Fetch(url, doc, fail)) {
    if (!Stopping()) m_Owner.ReportError(TCS_ERR_POWERUP, fail);
    return;
  }
  if (!doc.IsValid())
    return EndWithInvalidReply("Powerup - received invalid response", HOST_STATUS_POWERUP_FAILED);
  TXmlNode sess = FindInReply(doc, "StateSess");
  if (!sess)
    return EndWithInvalidReply("Powerup - Could not find a session state",
                               HOST_STATUS_POWERUP_FAILED);
  m_SessID = sess.AttrInt("ID", -1);
  SetStatus(HOST_STATUS_POWERING_UP);
  MonitorWakeup();
}

bool THost::DelDesktop() {
  if (m_Owner.GetDBMng().GetOstraServer().empty()) return false;
  std::string body;
  std::string fail;
  return m_Owner.FetchOstra(ObjectRequest("/object/del", m_ID).URL(), body, fail);
}

}  // namespace vantrel
