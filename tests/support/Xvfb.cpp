#include "support/Xvfb.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace vantrel::test {

namespace {

constexpr int kXvfbStartMs = 15000;

}  // namespace

TXvfb::~TXvfb() {
  if (Pid <= 0) return;
  kill(Pid, SIGTERM);
  int status = 0;
  waitpid(Pid, &status, 0);
}

bool StartXvfb(TXvfb& prmXvfb, std::string& prmWhy) {
  int fds[2];
  if (pipe(fds) != 0) {
    prmWhy = "pipe failed";
    return false;
  }
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
           "tcp", nullptr);
    _exit(127);
  }
  close(fds[1]);
  prmXvfb.Pid = pid;
  std::string number;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kXvfbStartMs);
  while (number.find('\n') == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0 ||
        read(fds[0], &c, 1) != 1)
      break;
    number += c;
  }
  close(fds[0]);
  if (number.empty() || number.back() != '\n') {
    prmWhy = "Xvfb did not start (is it installed? scripts/bootstrap.sh installs xvfb)";
    return false;
  }
  number.pop_back();
  prmXvfb.Display = ":" + number;
  return true;
}

}  // namespace vantrel::test
