#include <csignal>
#include <string>
#include <vector>

#include "MstscRun.h"
#include "platform/ProcessHardening.h"

int main(int argc, char** argv) {
  vantrel::HardenProcess();
  // A client that stops reading its input must not end this program before it is reaped.
  std::signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  return vantrel::mstsc::RunMstsc(args);
}
