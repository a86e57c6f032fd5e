// The forwarding client of the tunnel benchmark as a process of its own, so that its CPU time and
// resident memory are measured apart from the load generators: opens a tunnel to the reference
// gateway and one listener to the target, prints "listening 127.0.0.1:PORT", and runs until
// SIGTERM, then takes the tunnel down.
//
// usage: bench-forward-client first|legacy GATEWAY_PORT TARGET_PORT
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "diag/Exceptions.h"
#include "tunnel/TCSProtocolMorv.h"
#include "tunnel/TCSProtocolPelx.h"

int main(int argc, char** argv) {
  using namespace vantrel;
  if (argc != 4 || (std::strcmp(argv[1], "first") != 0 && std::strcmp(argv[1], "legacy") != 0)) {
    std::fprintf(stderr, "usage: %s first|legacy GATEWAY_PORT TARGET_PORT\n", argv[0]);
    return 2;
  }
  // Blocked before any thread exists, so every thread leaves SIGTERM to the sigwait below.
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  sigaddset(&term, SIGINT);
  pthread_sigmask(SIG_BLOCK, &term, nullptr);
  const int gatewayPort = std::atoi(argv[2]);
  const int targetPort = std::atoi(argv[3]);
  try {
    std::unique_ptr<CAppMng> mng;
    if (std::strcmp(argv[1], "first") == 0)
      mng = std::make_unique<CAppMngMorv>("127.0.0.1", gatewayPort, "c", "s", "m", "d");
    else
      mng = std::make_unique<CAppMngPelx>("127.0.0.1", gatewayPort, "c", "a+b", "m");
    mng->InitControlConnection();
    if (!mng->IsReady(30000)) throw EBaseException("tunnel not ready");
    int localPort = 0;
    mng->AddConn("127.0.0.1", targetPort, 0, localPort, nullptr, 0, 1, 0, false, false);
    std::printf("listening 127.0.0.1:%d\n", localPort);
    std::fflush(stdout);
    int sig = 0;
    sigwait(&term, &sig);
  } catch (const EBaseException& e) {
    std::fprintf(stderr, "%s\n", e.GetMsg().c_str());
    return 1;
  }
  return 0;
}
