// vantreltcs on a console: the program runs with a new pty as its controlling terminal and
// standard streams, and the test types on that terminal and reads its screen.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/ProcessSpawn.h"
#include "support/TestEnv.h"

namespace vantrel::test {

inline constexpr int kConsoleGuardMs = 60000;

class TConsole {
 public:
  // Starts vantreltcs with a new pty as its controlling terminal and standard streams.
  explicit TConsole(const std::vector<std::string>& prmArgs) {
    m_Pid = forkpty(&m_Master, nullptr, nullptr, nullptr);
    if (m_Pid == 0) {
      std::vector<char*> argv;
      std::string program = BinDir() + "/vantreltcs";
      argv.push_back(program.data());
      for (const std::string& a : prmArgs) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      unsetenv("DISPLAY");
      setenv("VANTREL_RDP_CLIENT", "/bin/true", 1);  // found, so start-up asks nothing
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }
  ~TConsole() {
    if (m_Pid > 0) {
      kill(m_Pid, SIGKILL);
      int code = 0;
      WaitProcess(m_Pid, nullptr, -1, code);
    }
    if (m_Master >= 0) close(m_Master);
  }

  void Type(const std::string& prmLine) {
    std::string text = prmLine + "\n";
    ASSERT_EQ(write(m_Master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // True once prmText appeared after what earlier calls matched.
  bool Expect(const std::string& prmText) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConsoleGuardMs);
    for (;;) {
      size_t at = m_Screen.find(prmText, m_Seen);
      if (at != std::string::npos) {
        m_Seen = at + prmText.size();
        return true;
      }
      pollfd p{m_Master, POLLIN, 0};
      if (poll(&p, 1, MsLeft(deadline)) <= 0) break;
      char chunk[4096];
      ssize_t n = read(m_Master, chunk, sizeof(chunk));
      if (n <= 0) break;
      m_Screen.append(chunk, static_cast<size_t>(n));
    }
    ADD_FAILURE() << "\"" << prmText << "\" not shown; the screen:\n" << m_Screen;
    return false;
  }
  pid_t Pid() const { return m_Pid; }
  // The end of the terminal's input, as when its window closes.
  void Hangup() {
    close(m_Master);
    m_Master = -1;
  }
  int Wait() {
    int code = -1;
    if (!WaitProcess(m_Pid, nullptr, kConsoleGuardMs, code)) return -1;
    m_Pid = -1;
    return code;
  }

 private:
  int m_Master = -1;
  pid_t m_Pid = -1;
  std::string m_Screen;
  size_t m_Seen = 0;
};

}  // namespace vantrel::test
