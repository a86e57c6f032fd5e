#include "session/ClientChecks.h"

#include <sys/stat.h>

#include <fstream>

#include "citrix/CitrixClient.h"
#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "platform/ProcessSpawn.h"
#include "platform/Settings.h"
#include "session/ClientChecksConsent.h"
#include "session/FileNames.h"

namespace vantrel {

namespace {

bool WriteWholeFile(const std::string& prmPath, const std::string& prmData, mode_t prmMode) {
  {
    std::ofstream out(prmPath, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(prmData.data(), static_cast<std::streamsize>(prmData.size()));
    if (!out) return false;
  }
  return chmod(prmPath.c_str(), prmMode) == 0;
}

}  // namespace

TClientChecks::TClientChecks(TSessionContext& prmContext)
    : m_Context(prmContext),
      m_Consent(TInstallerConsent::DefaultFile()),
      m_RdpClient(std::make_unique<TRdpClient>()) {
  FindCitrixClient();
}

bool TClientChecks::CheckRdpClient() {
  if (!m_RdpClient->CanCreate()) {
    WriteDebugLog("RDP client not installed");
    return InstallRdpClient();
  }
  std::string version = m_RdpClient->VersionText();
  size_t end = version.find(',');
  if (end == std::string::npos) end = version.find('.');
  int major = 0;
  m_RDPMajVer = TryStrToInt(version.substr(0, end), major) ? major : 5;
  return true;
}

bool TClientChecks::InstallRdpClient() {
  TDBMng& store = m_Context.GetDBMng();
  const std::string& url = store.GetTSAgentURL();
  if (!IsCabFile(url)) return false;
  std::string body, failure;
  if (!m_Context.GetFile(url, body, TCS_STATUS_DOWNLOAD, "Downloading RDP Client", failure,
                         store.GetAgentProxy())) {
    WriteDebugLog("InstallRdpClient - " + failure);
    return false;
  }
  // The package is a Windows cabinet whose control would be loaded into this process: it is
  // never expanded or registered here, so the client cannot be installed from it.
  WriteDebugLog("InstallRdpClient - a Windows package is never installed here: " + url);
  return false;
}

void TClientChecks::CheckCitrixClient() {
  if (m_Context.GetDBMng().GetXenAppClientURL().empty() || XenAppClientInstalled()) return;
  if (!DownloadXenAppClient()) m_Context.SendLog(6, "Failed to install the XenApp client");
}

bool TClientChecks::DownloadXenAppClient() {
  WriteDebugLog("DownloadXenAppClient");
  TDBMng& store = m_Context.GetDBMng();
  const std::string& url = store.GetXenAppClientURL();
  std::string name = url.substr(url.find_last_of('/') + 1);
  if (name.empty()) return false;
  if (IsWindowsInstaller(name)) {
    WriteDebugLog("DownloadXenAppClient - a Windows installer is never run here: " + name);
    return false;
  }
  switch (m_Consent.Recall(url)) {
    case TInstallerConsent::TDecision::Installed:
      WriteDebugLog("DownloadXenAppClient - " + name + " was installed before");
      return true;
    case TInstallerConsent::TDecision::Declined:
      WriteDebugLog("DownloadXenAppClient - the user declined " + name + " before");
      return false;
    case TInstallerConsent::TDecision::Unasked:
      break;
  }
  if (!AskToRun(name, url)) {
    m_Consent.Remember(url, TInstallerConsent::TDecision::Declined);
    WriteDebugLog("DownloadXenAppClient - the user declined " + name);
    return false;
  }
  std::string path = TempDir() + "/" + name;
  std::string body, failure;
  if (!m_Context.GetFile(url, body, TCS_STATUS_DOWNLOAD, "XenApp Client", failure,
                         store.GetXenAppProxy())) {
    WriteDebugLog("DownloadXenAppClient - " + failure);
    return false;
  }
  if (!WriteWholeFile(path, body, 0700)) {
    WriteDebugLog("DownloadXenAppClient - cannot write " + path);
    return false;
  }
  pid_t pid = 0;
  if (int err = SpawnProcess({path}, pid); err != 0) {
    WriteDebugLog("DownloadXenAppClient - cannot start " + path + ": " + std::to_string(err));
    return false;
  }
  m_Consent.Remember(url, TInstallerConsent::TDecision::Installed);
  // The installer may run as long as the user needs; the session going ends the wait.
  int code = 0;
  WaitProcess(pid, &m_Context.GetStopEvent(), -1, code);
  FindCitrixClient();
  return true;
}

bool TClientChecks::AskToRun(const std::string& prmName, const std::string& prmURL) {
  std::string source = prmURL;
  if (size_t scheme = source.find("://"); scheme != std::string::npos) {
    source.erase(0, scheme + 3);
    source = source.substr(0, source.find('/'));
  }
  if (source.empty() || SameText(prmURL.substr(0, 8), "local://")) source = m_Context.GetSP();
  const std::string text = "The gateway offers the program \"" + prmName + "\" from " + source +
                           " to install the XenApp client.\r\nDownload and run it now?";
  return m_Context.Dialogs().MessageBox(text, "XenApp Client", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

}  // namespace vantrel
