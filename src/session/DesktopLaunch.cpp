#include "session/DesktopLaunch.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "diag/ThreadEntry.h"
#include "diag/UniqueFd.h"
#include "platform/Dialogs.h"
#include "platform/PrivateFiles.h"
#include "platform/ProcessSpawn.h"
#include "platform/Settings.h"

namespace vantrel {

namespace {

constexpr int REAP_POLL_MS = 1000;

bool EndsWith(std::string_view prmText, std::string_view prmEnd) {
  return prmText.size() >= prmEnd.size() &&
         prmText.compare(prmText.size() - prmEnd.size(), prmEnd.size(), prmEnd) == 0;
}

}  // namespace

bool ParseTypedDestination(const std::string& prmDest, std::string& prmHost, int& prmPort) {
  size_t colon = prmDest.find(':');
  if (colon == std::string::npos) {
    prmHost = prmDest;
    prmPort = DEFAULT_RDP_PORT;
    return true;
  }
  // A port outside the TCP range would only fail later, at the gateway, without a clear error.
  const int port = PortOr(std::string_view(prmDest).substr(colon + 1), kNoPort);
  if (!IsTcpPort(port)) return false;
  prmHost = prmDest.substr(0, colon);
  prmPort = port;
  return true;
}

std::string RdpFileFolder() {
  return PrivateTempFolder();
}

std::string RdpFilePath(const std::string& prmFolder, const std::string& prmDeskName) {
  return PrivateFilePath(prmFolder, prmDeskName, ".rdp");
}

int ClearRDPFiles(const std::string& prmFolder, const std::string& prmPattern) {
  DIR* dir = opendir(prmFolder.c_str());
  if (dir == nullptr) return 0;
  int deleted = 0;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || !EndsWith(name, ".rdp")) continue;
    if (fnmatch(prmPattern.c_str(), name.c_str(), FNM_PERIOD) != 0) continue;
    std::string path = prmFolder + "/" + name;
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    if (unlink(path.c_str()) == 0)
      ++deleted;
    else
      WriteDebugLog("ClearRDPFiles - cannot delete " + path + ": " + std::strerror(errno));
  }
  closedir(dir);
  return deleted;
}

std::vector<std::string> RdpClientCommandLine(const std::string& prmProgram, bool prmConsole,
                                              const std::string& prmFile) {
  std::vector<std::string> argv{prmProgram};
  if (prmConsole) argv.push_back("/admin");
  argv.push_back(prmFile);
  return argv;
}

void DisableMstscWarningDialog() {
  WriteDebugLog("DisableMstscWarningDialog - nothing to change");
}

TRdpLaunchWorker::~TRdpLaunchWorker() {
  {
    std::lock_guard<std::mutex> g(m_Lock);
    m_Stop = true;
  }
  m_Wake.notify_all();
  if (m_Thread.joinable()) m_Thread.join();
}

void TRdpLaunchWorker::ScheduleCleanup(int prmDelayMs) {
  std::lock_guard<std::mutex> g(m_Lock);
  m_CleanupAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(prmDelayMs);
  StartLocked();
  m_Wake.notify_all();
}

void TRdpLaunchWorker::Watch(pid_t prmPid) {
  std::lock_guard<std::mutex> g(m_Lock);
  m_Pids.push_back(prmPid);
  StartLocked();
  m_Wake.notify_all();
}

bool TRdpLaunchWorker::CleanupPending() {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_CleanupAt.has_value();
}

int TRdpLaunchWorker::CleanupsDone() {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_CleanupsDone;
}

size_t TRdpLaunchWorker::Watched() {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Pids.size();
}

void TRdpLaunchWorker::StartLocked() {
  if (!m_Thread.joinable() && !m_Stop) m_Thread = std::thread([this] { Thd(); });
}

void TRdpLaunchWorker::ReapLocked() {
  std::erase_if(m_Pids, [](pid_t pid) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    return r == pid || (r < 0 && errno == ECHILD);
  });
}

void TRdpLaunchWorker::Thd() {
  RunGuarded("TRdpLaunchWorker", [this] { Loop(); });
}

void TRdpLaunchWorker::Loop() {
  std::unique_lock<std::mutex> lock(m_Lock);
  while (!m_Stop) {
    ReapLocked();
    auto now = std::chrono::steady_clock::now();
    if (m_CleanupAt && *m_CleanupAt <= now) {
      m_CleanupAt.reset();
      lock.unlock();
      ClearRDPFiles(m_Folder, "*.rdp");
      lock.lock();
      ++m_CleanupsDone;
      continue;
    }
    std::optional<std::chrono::steady_clock::time_point> wake = m_CleanupAt;
    if (!m_Pids.empty()) {
      auto poll = now + std::chrono::milliseconds(REAP_POLL_MS);
      if (!wake || poll < *wake) wake = poll;
    }
    if (wake)
      m_Wake.wait_until(lock, *wake);
    else
      m_Wake.wait(lock);
  }
}

void StartRdpClient(const std::vector<std::string>& prmArgv, bool prmKeepFiles,
                    TRdpLaunchWorker& prmWorker, IDialogs& prmDialogs) {
  pid_t pid = 0;
  const int err = SpawnProcess(prmArgv, pid);
  if (err == 0) {
    prmWorker.Watch(pid);
  } else if (err == ENOENT || err == ENOTDIR) {
    prmDialogs.MessageBox("Failed to start local client, please check the path specified", "Error",
                          MB_OK | MB_ICONERROR);
  } else {
    prmDialogs.MessageBox("Failed to create process error: " + std::to_string(err), "Error",
                          MB_OK | MB_ICONERROR);
  }
  if (!prmKeepFiles) prmWorker.ScheduleCleanup(RDP_FILE_KEEP_MS);
}

}  // namespace vantrel
