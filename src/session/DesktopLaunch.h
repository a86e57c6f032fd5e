// The pieces of a desktop launch that need no session: destination and address checks, the
// private folder of the connection files and their clean-up, the client program's command line,
// and the worker that deletes connection files and reaps started clients in the background.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/PrivateFiles.h"

namespace vantrel {

class IDialogs;

constexpr int DEFAULT_RDP_PORT = 3389;
// How long a written connection file is kept for the client program to read it.
constexpr int RDP_FILE_KEEP_MS = 3000;

// A typed destination "host" or "host:port". False when the text after the first ":" is not an
// integer; the host is then unset.
bool ParseTypedDestination(const std::string& prmDest, std::string& prmHost, int& prmPort);

// PrivateTempFolder(): the connection files' folder.
std::string RdpFileFolder();
// The file's path for a desktop name; characters that would leave the folder become "_".
std::string RdpFilePath(const std::string& prmFolder, const std::string& prmDeskName);

// Deletes the folder's files that match prmPattern (shell wildcards) and end exactly in ".rdp";
// directories are left. A file that cannot be deleted is logged and the walk goes on. Returns the
// number deleted.
int ClearRDPFiles(const std::string& prmFolder, const std::string& prmPattern);

// The RDP client program's arguments: program, "/admin" for a console launch, the file.
std::vector<std::string> RdpClientCommandLine(const std::string& prmProgram, bool prmConsole,
                                              const std::string& prmFile);

// The loopback-trust step. FreeRDP keeps no device-redirection trust list, so there is nothing
// to change: it only leaves its trace in the debug log.
void DisableMstscWarningDialog();

// One background thread per session: deletes the connection files some time after the latest
// launch, and reaps the client programs started without waiting for them. The thread starts
// with the first request and ends when the worker goes (a pending clean-up is then left to the
// session's own destruction); it never outlives its owner.
class TRdpLaunchWorker {
 public:
  explicit TRdpLaunchWorker(std::string prmFolder) : m_Folder(std::move(prmFolder)) {}
  ~TRdpLaunchWorker();
  TRdpLaunchWorker(const TRdpLaunchWorker&) = delete;
  TRdpLaunchWorker& operator=(const TRdpLaunchWorker&) = delete;

  // Deletes the folder's ".rdp" files prmDelayMs after the latest call; a later call moves the
  // time on, so every file gets its full delay.
  void ScheduleCleanup(int prmDelayMs);
  // Reaps prmPid once it has ended.
  void Watch(pid_t prmPid);

  bool CleanupPending();
  int CleanupsDone();
  size_t Watched();

 private:
  void Thd();
  void Loop();
  void StartLocked();
  void ReapLocked();

  const std::string m_Folder;
  std::mutex m_Lock;
  std::condition_variable m_Wake;
  bool m_Stop = false;
  std::optional<std::chrono::steady_clock::time_point> m_CleanupAt;
  int m_CleanupsDone = 0;
  std::vector<pid_t> m_Pids;
  std::thread m_Thread;
};

// Starts the client program prmArgv for a written connection file, leaving it to prmWorker to
// reap; a failure to start is shown in an error box. Unless prmKeepFiles, the connection files
// are deleted RDP_FILE_KEEP_MS later, once the client had time to read them.
void StartRdpClient(const std::vector<std::string>& prmArgv, bool prmKeepFiles,
                    TRdpLaunchWorker& prmWorker, IDialogs& prmDialogs);

}  // namespace vantrel
