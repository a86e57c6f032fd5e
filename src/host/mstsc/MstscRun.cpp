#include "MstscRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "config/RdpFileFormat.h"
#include "diag/TextCodecs.h"
#include "diag/UniqueFd.h"
#include "platform/ProcessSpawn.h"
#include "platform/Settings.h"
#include "session/DesktopLaunch.h"
#include "session/RdpFile.h"

extern char** environ;

namespace vantrel::mstsc {

namespace {

// Connection files are a few kilobytes; anything this large is not one.
constexpr size_t kMaxFileSize = 1024 * 1024;

bool ReadSmallFile(const std::string& prmPath, std::string& prmBytes) {
  TUniqueFd fd(open(prmPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  char buf[8192];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd.Get(), buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    prmBytes.append(buf, static_cast<size_t>(n));
    if (prmBytes.size() > kMaxFileSize) {
      ok = false;
      break;
    }
  }
  return ok;
}

void Wipe(std::string& prmText) {
  std::fill(prmText.begin(), prmText.end(), '\0');
  prmText.clear();
}

bool WriteAll(int prmFd, const std::string& prmData) {
  size_t done = 0;
  while (done < prmData.size()) {
    ssize_t n = write(prmFd, prmData.data() + done, prmData.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string BaseName(const std::string& prmPath) {
  size_t slash = prmPath.find_last_of('/');
  return slash == std::string::npos ? prmPath : prmPath.substr(slash + 1);
}

// Starts the client with a pipe as its standard input; -1 and prmErr on failure.
pid_t SpawnWithInput(const std::vector<std::string>& prmArgv, TUniqueFd& prmWriteFd, int& prmErr) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    prmErr = errno;
    return -1;
  }
  TUniqueFd readEnd(fds[0]), writeEnd(fds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, readEnd.Get(), 0);
  std::vector<char*> argv;
  for (const std::string& a : prmArgv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  prmErr = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (prmErr != 0) return -1;
  prmWriteFd = std::move(writeEnd);
  return pid;
}

int WaitExit(pid_t prmPid) {
  int status = 0;
  while (waitpid(prmPid, &status, 0) < 0)
    if (errno != EINTR) return 1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}

}  // namespace

TConnection ReadConnection(const std::string& prmBytes) {
  TConnection c;
  std::vector<TRdpEntry> entries = ParseRdpFile(prmBytes);
  for (const TRdpEntry& e : entries)
    if (SameText(e.Name, "remoteapplicationmode") && e.Type == 'i' && e.Value == "1")
      c.RemoteApp = true;
  for (TRdpEntry& e : entries) {
    int number = 0;
    if (e.Type == 'i' && !TryStrToInt(e.Value, number)) {
      // xfreerdp refuses a whole file over one integer entry that is not a number (an
      // application's working directory is written so).
      continue;
    }
    if (c.RemoteApp && SameText(e.Name, "alternate shell")) {
      // A remote application is started through its own channel, not as the session's shell.
      continue;
    }
    if (SameText(e.Name, kRdpUserNameKey) && e.Type == 's') {
      c.UserName = e.Value;
    } else if (SameText(e.Name, kRdpDomainKey) && e.Type == 's') {
      c.Domain = e.Value;
    } else if (SameText(e.Name, kRdpPasswordKey) && e.Type == 'b') {
      c.PasswordUnreadable = !UncryptRDPPassword(e.Value, c.Password);
      Wipe(e.Value);
    } else {
      c.ClientFile += FormatRdpEntry(e);
    }
  }
  return c;
}

bool ParseArgs(const std::vector<std::string>& prmArgs, bool& prmAdmin, std::string& prmFile) {
  prmAdmin = false;
  prmFile.clear();
  for (const std::string& a : prmArgs) {
    if (SameText(a, "/admin") && !prmAdmin)
      prmAdmin = true;
    else if (prmFile.empty() && !a.empty())
      prmFile = a;
    else
      return false;
  }
  return !prmFile.empty();
}

std::vector<std::string> XfreerdpArgs(const std::string& prmProgram, const std::string& prmFile,
                                      bool prmAdmin) {
  std::vector<std::string> argv{prmProgram, prmFile};
  if (prmAdmin) argv.push_back("/admin");
  argv.push_back("/cert:ignore");
  argv.push_back("/from-stdin:force");
  return argv;
}

int RunMstsc(const std::vector<std::string>& prmArgs) {
  bool admin = false;
  std::string file;
  if (!ParseArgs(prmArgs, admin, file)) {
    std::cerr << "usage: vantrel-mstsc [/admin] file.rdp\n";
    return 2;
  }
  std::string bytes;
  if (!ReadSmallFile(file, bytes)) {
    std::cerr << "vantrel-mstsc: cannot read " << file << ": " << std::strerror(errno) << "\n";
    return 2;
  }
  TConnection conn = ReadConnection(bytes);
  if (conn.PasswordUnreadable)
    std::cerr << "vantrel-mstsc: the stored password cannot be read; it will be asked for\n";

  const char* configured = std::getenv("VANTREL_XFREERDP");
  std::string program = FindProgram(configured && *configured ? configured : "xfreerdp");
  if (program.empty()) {
    std::cerr << "vantrel-mstsc: xfreerdp not found; install FreeRDP's X11 client (xfreerdp) "
                 "or name it in VANTREL_XFREERDP\n";
    Wipe(conn.Password);
    return 127;
  }

  // The client's own copy lives in a private folder: the control deletes its files soon after
  // the start, and this copy carries no credentials.
  std::string dir = TempDir() + "/vantrel-mstsc-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) {
    std::cerr << "vantrel-mstsc: cannot create a private folder: " << std::strerror(errno) << "\n";
    Wipe(conn.Password);
    return 2;
  }
  std::string copy = RdpFilePath(dir, BaseName(file).substr(0, BaseName(file).rfind(".rdp")));
  int code = 2;
  if (!WritePrivateFile(copy, conn.ClientFile)) {
    std::cerr << "vantrel-mstsc: cannot write " << copy << ": " << std::strerror(errno) << "\n";
  } else {
    TUniqueFd input;
    int err = 0;
    pid_t pid = SpawnWithInput(XfreerdpArgs(program, copy, admin), input, err);
    if (pid < 0) {
      std::cerr << "vantrel-mstsc: cannot start " << program << ": " << std::strerror(err) << "\n";
      code = 127;
    } else {
      std::string answers = conn.UserName + "\n" + conn.Domain + "\n" + conn.Password + "\n";
      if (!WriteAll(input.Get(), answers))
        std::cerr << "vantrel-mstsc: " << program << " did not take the credentials\n";
      Wipe(answers);
      input.Reset();
      code = WaitExit(pid);
    }
  }
  Wipe(conn.Password);
  unlink(copy.c_str());
  rmdir(dir.c_str());
  return code;
}

}  // namespace vantrel::mstsc
