#include "session/ClientChecks.h"

#include <sys/stat.h>

#include <fstream>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "platform/ArchiveExpand.h"
#include "platform/ProcessSpawn.h"
#include "platform/Registration.h"
#include "platform/Settings.h"
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
      m_RdpClient(std::make_unique<TRdpClient>()),
      m_CitrixClientPath(ProbeCitrixClient()) {}

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
  const std::string dir = RdpSystemDir();
  const std::string package = dir + "/msrdp.cab";
  if (!WriteWholeFile(package, std::string(), 0600)) {
    WriteDebugLog("InstallRdpClient - cannot create " + package);
    return false;
  }
  std::string body, failure;
  if (!m_Context.GetFile(url, body, TCS_STATUS_DOWNLOAD, "Downloading RDP Client", failure,
                         store.GetAgentProxy())) {
    WriteDebugLog("InstallRdpClient - " + failure);
    return false;
  }
  std::string error;
  if (!WriteWholeFile(package, body, 0600) || !ExpandArchive(package, dir, error)) {
    WriteDebugLog("InstallRdpClient - cannot expand " + package + ": " + error);
    return false;
  }
  return RegisterActiveXServer(dir + "/msrdp.ocx", m_Context.Dialogs());
}

std::string TClientChecks::ProbeCitrixClient() {
  // The ICA client probe comes with the Citrix launch; until then no client is installed.
  return std::string();
}

void TClientChecks::CheckCitrixClient() {
  if (m_Context.GetDBMng().GetXenAppClientURL().empty() || !m_CitrixClientPath.empty()) return;
  if (!DownloadXenAppClient()) m_Context.SendLog(6, "Failed to install the XenApp client");
}

bool TClientChecks::DownloadXenAppClient() {
  WriteDebugLog("DownloadXenAppClient");
  TDBMng& store = m_Context.GetDBMng();
  const std::string& url = store.GetXenAppClientURL();
  std::string name = url.substr(url.find_last_of('/') + 1);
  if (name.empty()) return false;
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
  bool isMsi = EndsWithText(name, "MSI");
  std::vector<std::string> argv =
      isMsi ? std::vector<std::string>{"msiexec", "/i", path} : std::vector<std::string>{path};
  pid_t pid = 0;
  if (int err = SpawnProcess(argv, pid); err != 0) {
    WriteDebugLog("DownloadXenAppClient - cannot start " + argv[0] + ": " + std::to_string(err));
    return false;
  }
  // The installer may run as long as the user needs; the session going ends the wait.
  int code = 0;
  WaitProcess(pid, &m_Context.GetStopEvent(), -1, code);
  if (!isMsi) m_CitrixClientPath = ProbeCitrixClient();
  return true;
}

}  // namespace vantrel
