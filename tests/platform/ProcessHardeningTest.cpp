// A program holding secrets leaves no core file and cannot be read by the user's other processes.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ProcessHardening.h"

namespace vantrel {
namespace {

TEST(ProcessHardening, NotDumpableAndNoCoreFile) {
  // In a child, so the test binary itself stays as it was.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HardenProcess();
    rlimit core{};
    bool hardened = prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0 && getrlimit(RLIMIT_CORE, &core) == 0 &&
                    core.rlim_cur == 0 && core.rlim_max == 0;
    _exit(hardened ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace vantrel
