// vantrel-testpeer: reference peers for tests and demonstrations, one role per subcommand.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "diag/Exceptions.h"
#include "testpeer/AvailabilityCommand.h"
#include "testpeer/AvailabilityScenario.h"
#include "testpeer/FakeIcaClient.h"
#include "testpeer/GatewayPeer.h"

using namespace vantrel;
using namespace vantrel::testpeer;

namespace {

const char kUsage[] =
    "usage: vantrel-testpeer <role> [options]\n"
    "roles:\n"
    "  gateway [--scenario FILE] [--port N] [--protocol first|legacy]\n"
    "          [--cert PEM --key PEM] [--client-ca PEM] [--print-log]\n"
    "      the tunnel gateway; runs until SIGINT or SIGTERM. The first output line is\n"
    "      \"listening 127.0.0.1:PORT\", the second \"gateway key sha256 FINGERPRINT\" (what\n"
    "      clients pin); with --print-log each log record the client sends\n"
    "      is printed as it arrives, and a summary is printed at the end. With --client-ca\n"
    "      a client certificate issued by that CA is required; the last one's subject is\n"
    "      printed in the summary.\n"
    "  ica-client FILE\n"
    "      a stand-in for the ICA client program: reads the ICA settings file, sends a piece\n"
    "      to its Address= and reads it back; appends a JSON line of what it found to the\n"
    "      file named by VANTREL_FAKE_ICA_REPORT. Exit 0 when the bytes came back.\n"
    "  --help  this text and the scenario keys\n\n";

int Usage(FILE* prmOut, int prmCode) {
  std::fputs(kUsage, prmOut);
  std::fputs(AvailabilityUsage(), prmOut);
  if (prmOut == stdout) std::fputs(ScenarioHelp(), prmOut);
  if (prmOut == stdout) std::fputs(AvailabilityScenarioHelp(), prmOut);
  return prmCode;
}

// Blocks the stop signals in every thread; the main thread then takes them with sigwait.
sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return set;
}

int RunGateway(const std::vector<std::string>& prmArgs) {
  std::string scenarioFile, cert, key, protocol, clientCA;
  int port = -1;
  bool printLog = false;
  for (size_t i = 0; i < prmArgs.size(); ++i) {
    const std::string& a = prmArgs[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= prmArgs.size()) throw EBaseException(a + " needs a value");
      return prmArgs[++i];
    };
    if (a == "--scenario")
      scenarioFile = value();
    else if (a == "--port") {
      if (!TryStrToInt(value(), port) || port < 0 || port > 65535)
        throw EBaseException("--port needs a number from 0 to 65535");
    } else if (a == "--protocol")
      protocol = value();
    else if (a == "--cert")
      cert = value();
    else if (a == "--key")
      key = value();
    else if (a == "--client-ca")
      clientCA = value();
    else if (a == "--print-log")
      printLog = true;
    else if (a == "--help")
      return Usage(stdout, 0);
    else
      throw EBaseException("unknown option " + a);
  }
  TGatewayScenario sc = scenarioFile.empty() ? TGatewayScenario{} : ScenarioFromFile(scenarioFile);
  if (port >= 0) sc.Port = static_cast<uint16_t>(port);
  if (!protocol.empty()) {
    if (protocol != "first" && protocol != "legacy")
      throw EBaseException("--protocol must be first or legacy");
    sc.Protocol = protocol == "first" ? TProtocol::First : TProtocol::Legacy;
  }
  if (!cert.empty()) {
    sc.CertFile = cert;
    sc.KeyFile = key;
  }
  if (!clientCA.empty()) {
    sc.RequireClientCert = true;
    sc.ClientCAFile = clientCA;
  }
  sigset_t stopSignals = StopSignals();
  TGatewayPeer peer(sc);
  if (printLog)
    peer.SetLogCallback([](const TLogRecord& r) {
      std::printf("session %d %s\n", r.Session, FormatLogRecord(r).c_str());
      std::fflush(stdout);
    });
  uint16_t bound = peer.Start();
  std::printf("listening %s:%u\n", peer.Address().c_str(), bound);
  std::printf("gateway key sha256 %s\n", peer.KeyFingerprint().c_str());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&stopSignals, &sig);
  peer.Stop();
  TPeerCounters c = peer.Counters();
  std::printf("stopped: sessions %d, keepalives %d, probe answers %d, opens %d (refused %d)\n",
              c.SessionsAccepted, c.Keepalives, c.ProbeAnswers, c.OpensServed, c.OpensRefused);
  if (!peer.ClientCertSubject().empty())
    std::printf("client certificate: %s\n", peer.ClientCertSubject().c_str());
  for (const std::string& e : peer.Errors()) std::printf("error: %s\n", e.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage(stderr, 2);
  if (args[0] == "--help" || args[0] == "-h") return Usage(stdout, 0);
  try {
    if (args[0] == "gateway") return RunGateway({args.begin() + 1, args.end()});
    if (args[0] == "ica-client" && args.size() == 2) return RunFakeIcaClient(args[1]);
    if (args[0] == "availability" || args[0] == "demo") {
      sigset_t stopSignals = StopSignals();
      auto wait = [&stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
      };
      std::vector<std::string> rest(args.begin() + 1, args.end());
      return args[0] == "demo" ? RunDemo(rest, wait) : RunAvailability(rest, wait);
    }
    std::fprintf(stderr, "unknown role %s\n", args[0].c_str());
    return Usage(stderr, 2);
  } catch (const EBaseException& e) {
    std::fprintf(stderr, "vantrel-testpeer: %s\n", e.GetMsg().c_str());
    return 1;
  }
}
