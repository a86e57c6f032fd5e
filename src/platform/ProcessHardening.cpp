#include "platform/ProcessHardening.h"

#include <sys/prctl.h>
#include <sys/resource.h>

#include <cerrno>
#include <string>

#include "diag/DebugLog.h"

namespace vantrel {

void HardenProcess() {
  if (prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
    WriteDebugLog("HardenProcess - PR_SET_DUMPABLE failed, error " + std::to_string(errno));
  const rlimit none{0, 0};
  if (setrlimit(RLIMIT_CORE, &none) != 0)
    WriteDebugLog("HardenProcess - RLIMIT_CORE failed, error " + std::to_string(errno));
}

}  // namespace vantrel
