#include "session/SessionContext.h"

#include "diag/NetAddress.h"
#include "platform/MachineId.h"
#include "tunnel/AppMngCommon.h"

namespace vantrel {

TSessionContext::TSessionContext(ITCSUserInterface& prmUI, HWND prmHwnd, IDialogs& prmDialogs)
    : m_UI(prmUI),
      m_Hwnd(prmHwnd),
      m_Dialogs(prmDialogs, prmHwnd, m_TerminateEvent),
      m_FileExchange(std::make_unique<TFileExchange>(*this)) {}

void TSessionContext::BeginDestruction() {
  m_InDestruction = true;
  m_TerminateEvent.Set();
  // The tunnel's own waits (set-up, requests) end now rather than after their timeouts; it is
  // destroyed later, once nobody uses it. Held while it is cancelled: the connect thread may
  // free it meanwhile.
  std::shared_ptr<CAppMng> protocol = Protocol();
  if (auto* tunnel = dynamic_cast<CAppMngCommon*>(protocol.get())) tunnel->Cancel();
}

void TSessionContext::SetTimeoutAlerts(int prmLifetimeAlert, int prmIdleAlert) {
  m_LifetimeAlert = prmLifetimeAlert;
  m_IdleAlert = prmIdleAlert;
}

std::string TSessionContext::GetOstraServer() const {
  return m_DBMng != nullptr ? m_DBMng->GetOstraServer() : std::string();
}

std::string TSessionContext::GetDevID() const {
  return ReadMachineId();
}

std::shared_ptr<CAppMng> TSessionContext::Protocol() const {
  std::lock_guard<std::mutex> g(m_ProtocolLock);
  return m_Protocol;
}

void TSessionContext::SetProtocol(std::shared_ptr<CAppMng> prmProtocol) {
  auto* tunnel = dynamic_cast<CAppMngCommon*>(prmProtocol.get());
  {
    std::lock_guard<std::mutex> g(m_ProtocolLock);
    m_Protocol = std::move(prmProtocol);
  }
  // A destruction that began before the tunnel was known found nothing to cancel; this one must
  // not start its set-up waits.
  if (m_InDestruction && tunnel != nullptr) tunnel->Cancel();
}

void TSessionContext::FreeProtocol() {
  std::shared_ptr<CAppMng> protocol;
  {
    std::lock_guard<std::mutex> g(m_ProtocolLock);
    protocol.swap(m_Protocol);
  }
  // Destroyed here, outside the lock, unless a window-thread user still holds it.
}

void TSessionContext::SendLog(uint8_t prmLevel, const std::string& prmText) {
  if (auto protocol = Protocol()) protocol->SendLogMsg(prmLevel, "VantrelTCS", 0, "", prmText);
}

bool TSessionContext::GetFile(const std::string& prmURL, std::string& prmBody, int prmStatusID,
                              const std::string& prmStatusText, std::string& prmFailureInfo,
                              const std::string& prmProxy) {
  if (!m_GetFile)
    return m_FileExchange->GetFile(prmURL, prmBody, prmStatusID, prmStatusText, prmFailureInfo,
                                   prmProxy);
  prmFailureInfo.clear();
  return m_GetFile(prmURL, prmBody, prmStatusID, prmStatusText, prmFailureInfo, prmProxy);
}

TDBMng& TSessionContext::GetDBMng() {
  return m_DBMng != nullptr ? *m_DBMng : m_NoDBMng;
}

bool TSessionContext::FetchOstra(const std::string& prmURL, std::string& prmBody,
                                 std::string& prmFailText) {
  return GetFile(prmURL, prmBody, TCS_STATUS_NONE, "", prmFailText, "");
}

std::string TSessionContext::GetUsername(bool prmNoAlt) {
  auto protocol = Protocol();
  return protocol ? protocol->GetUsername(prmNoAlt) : std::string();
}

std::string TSessionContext::GetPassword(bool prmNoAlt) {
  auto protocol = Protocol();
  return protocol ? protocol->GetPassword(prmNoAlt) : std::string();
}

uint32_t TSessionContext::ResolveHost(const std::string& prmHost) {
  auto protocol = Protocol();
  return protocol ? protocol->ResolveHost(prmHost) : kResolveNotFound;
}

void TSessionContext::ReportError(int prmErrorID, const std::string& prmExtra) {
  m_UI.ReportError(prmErrorID, prmExtra);
}

void TSessionContext::PostHostStatus(int prmIndex, int prmStatus) {
  PostMessage(m_Hwnd, WM_HostStateChanged, static_cast<uintptr_t>(prmIndex), prmStatus);
}

bool TSessionContext::GetTimers(int& prmIdleLeft, int& prmLifetimeLeft) {
  auto protocol = Protocol();
  if (!protocol) return false;
  uint32_t idle = 0, life = 0;
  protocol->GetTimers(idle, life);
  // A lost tunnel answers zero timers, which are no news about the session's limits.
  if (!protocol->IsConnected()) return false;
  prmIdleLeft = static_cast<int>(idle);
  prmLifetimeLeft = static_cast<int>(life);
  return true;
}

void TSessionContext::ResetTimers() {
  if (auto protocol = Protocol()) protocol->ResetTimers();
}

}  // namespace vantrel
