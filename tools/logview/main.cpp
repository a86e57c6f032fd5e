// vantrel-logview: receives the control's debug-log records and prints them with a time stamp.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "LogViewer.h"
#include "ProxyRecords.h"
#include "platform/DebugLogSetup.h"

namespace {

const char kUsage[] =
    "usage: vantrel-logview [--follow] [--proxy-log] [--output FILE] [--help]\n"
    "Receives the debug-log records of the Vantrel control on its log socket\n"
    "and prints each with a local time stamp.\n"
    "  --follow       run until interrupted (SIGINT or SIGTERM); the default\n"
    "  --proxy-log    also show the records of the proxy library's log\n"
    "  --output FILE  append the lines to FILE instead of standard output\n"
    "  --help         show this text\n";

struct TOptions {
  std::string Output;
  bool ProxyLog = false;
};

// 0 to run, otherwise the exit code (after --help or a usage error).
int ParseArgs(int argc, char** argv, TOptions& prmOpt) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return -1;
    }
    if (a == "--follow") continue;
    if (a == "--proxy-log") {
      prmOpt.ProxyLog = true;
      continue;
    }
    if (a == "--output" && i + 1 < argc) {
      prmOpt.Output = argv[++i];
      continue;
    }
    std::fprintf(stderr, "vantrel-logview: unknown or incomplete option '%s'\n%s", a.c_str(),
                 kUsage);
    return 2;
  }
  return 0;
}

// Runs until SIGINT or SIGTERM; the signals arrive through a descriptor in the same poll() set
// as the socket, so a stop is never missed between two records.
int Run(vantrel::logview::TLogViewer& prmViewer, FILE* prmOut, std::mutex& prmOutLock,
        int prmSignals) {
  for (;;) {
    pollfd fds[2] = {{prmViewer.Fd(), POLLIN, 0}, {prmSignals, POLLIN, 0}};
    int r = poll(fds, 2, -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return 1;
    std::string rec;
    while (prmViewer.Receive(rec)) {
      timespec now{};
      clock_gettime(CLOCK_REALTIME, &now);
      std::string line = vantrel::logview::FormatRecord(now, rec);
      std::lock_guard<std::mutex> lock(prmOutLock);
      std::fprintf(prmOut, "%s\n", line.c_str());
      std::fflush(prmOut);
    }
    if (fds[1].revents & POLLIN) return 0;
  }
}

}  // namespace

int main(int argc, char** argv) {
  TOptions opt;
  int rc = ParseArgs(argc, argv, opt);
  if (rc != 0) return rc < 0 ? 0 : rc;

  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigprocmask(SIG_BLOCK, &mask, nullptr);
  vantrel::TUniqueFd sfd(signalfd(-1, &mask, SFD_CLOEXEC));
  if (!sfd) {
    std::fprintf(stderr, "vantrel-logview: signalfd: %s\n", std::strerror(errno));
    return 1;
  }

  FILE* out = stdout;
  if (!opt.Output.empty()) {
    out = std::fopen(opt.Output.c_str(), "a");
    if (!out) {
      std::fprintf(stderr, "vantrel-logview: cannot open %s: %s\n", opt.Output.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  try {
    vantrel::logview::TLogViewer viewer(vantrel::DebugLogSocketPath());
    std::mutex outLock;
    std::unique_ptr<vantrel::logview::TProxyRecords> proxyRecords;
    if (opt.ProxyLog)
      proxyRecords = std::make_unique<vantrel::logview::TProxyRecords>(out, outLock);
    rc = Run(viewer, out, outLock, sfd.Get());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vantrel-logview: %s\n", e.what());
    rc = 1;
  }
  if (out != stdout) std::fclose(out);
  return rc;
}
