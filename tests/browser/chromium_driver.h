// A real headless Chromium (Debian's chromium) with the Vantrel extension loaded and the host's
// manifest in its private profile, driven over the DevTools protocol on a pipe
// (--remote-debugging-pipe: commands on fd 3, answers on fd 4, each message ending in a NUL).
// Every wait is bounded; the browser is closed, then killed, when the driver goes.
#pragma once

#include <sys/types.h>

#include <string>

#include "host/vantreltcs/PageProtocol.h"

namespace vantrel::test {

class TChromium {
 public:
  // Starts the browser with a new profile under prmProfileDir whose NativeMessagingHosts/ names
  // prmHostProgram as "com.vantrel.tcs"; the extension is loaded from prmExtensionDir. Fails the
  // test (ADD_FAILURE) when the browser cannot start; Started() tells.
  TChromium(const std::string& prmProfileDir, const std::string& prmExtensionDir,
            const std::string& prmHostProgram);
  ~TChromium();
  TChromium(const TChromium&) = delete;
  TChromium& operator=(const TChromium&) = delete;

  bool Started() const { return m_Pid > 0; }

  // A new tab on prmUrl; the debugging session attached to it (empty on failure).
  std::string OpenTab(const std::string& prmUrl, std::string* prmTargetId = nullptr);
  void CloseTab(const std::string& prmTargetId);

  // The value of prmExpression in the tab (promises awaited); discarded on failure.
  host::TJson Eval(const std::string& prmSession, const std::string& prmExpression);
  // Polls prmExpression until it is true, for at most prmTimeoutMs.
  bool WaitFor(const std::string& prmSession, const std::string& prmExpression, int prmTimeoutMs);

  // The command's result; discarded when the browser failed it or went silent.
  host::TJson Send(const std::string& prmMethod, host::TJson prmParams,
                   const std::string& prmSession = "");

 private:
  pid_t m_Pid = -1;
  int m_ToBrowser = -1, m_FromBrowser = -1;
  int m_NextId = 0;
  std::string m_Buffer;
};

// The processes running prmProgram whose first argument starts with prmArgPrefix and whose
// environment holds the line prmEnvLine (tests running side by side mark their own browsers).
int CountProcesses(const std::string& prmProgram, const std::string& prmArgPrefix,
                   const std::string& prmEnvLine);

}  // namespace vantrel::test
