// The X11 idle source against a real X server (Xvfb), when one is installed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/LastInput.h"
#include "platform/ProcessSpawn.h"

extern char** environ;

namespace vantrel::test {
namespace {

// An Xvfb on a display it picks itself; it reports the number on a pipe once it accepts clients.
class TXvfb {
 public:
  TXvfb() {
    std::string program = FindProgram("Xvfb");
    int fds[2];
    if (program.empty() || pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const char* argv[] = {program.c_str(), "-displayfd", "3", "-nolisten", "tcp", nullptr};
    int rc =
        posix_spawn(&m_Pid, program.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) m_Pid = 0;
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (m_Pid != 0 && poll(&p, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
      number += c;
    close(fds[0]);
    if (!number.empty()) m_Display = ":" + number;
  }
  ~TXvfb() {
    if (m_Pid == 0) return;
    kill(m_Pid, SIGTERM);
    int status = 0;
    waitpid(m_Pid, &status, 0);
  }
  const std::string& Display() const { return m_Display; }

 private:
  pid_t m_Pid = 0;
  std::string m_Display;
};

TEST(LastInputX11, IdleTimeComesFromTheScreenSaverExtension) {
  TXvfb xvfb;
  if (xvfb.Display().empty()) GTEST_SKIP() << "no Xvfb";
  setenv("DISPLAY", xvfb.Display().c_str(), 1);
  auto source = CreateLastInputSource();
  uint64_t first = 0, second = 0;
  ASSERT_TRUE(source->GetIdleMs(first));
  ASSERT_TRUE(source->GetIdleMs(second));
  EXPECT_GE(second, first);  // nobody types on a virtual display
  unsetenv("DISPLAY");
}

TEST(LastInputX11, UnreachableDisplayFallsBackWithoutHanging) {
  setenv("DISPLAY", ":4999", 1);
  auto source = CreateLastInputSource();
  ASSERT_NE(source, nullptr);
  uint64_t idle = 0;
  (void)source->GetIdleMs(idle);
  unsetenv("DISPLAY");
}

}  // namespace
}  // namespace vantrel::test
