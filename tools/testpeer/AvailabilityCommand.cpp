#include "testpeer/AvailabilityCommand.h"

#include <cstdio>
#include <map>

#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "testpeer/AgentPeer.h"
#include "testpeer/AvailabilityServer.h"
#include "testpeer/GatewayPeer.h"
#include "testpeer/TcpTestServer.h"
#include "testpeer/XmlService.h"

namespace vantrel::testpeer {

namespace {

struct TOptions {
  std::string Scenario, GatewayScenario;
  int Port = -1, AvailPort = -1;
  bool Help = false;
};

int PortValue(const std::string& prmOption, const std::string& prmText) {
  int port = 0;
  if (!TryStrToInt(prmText, port) || port < 0 || port > 65535)
    throw EBaseException(prmOption + " needs a number from 0 to 65535");
  return port;
}

// Every option but --help takes one value; the demo role knows two more.
TOptions ParseOptions(const std::vector<std::string>& prmArgs, bool prmDemo) {
  TOptions o;
  std::map<std::string, std::string*> texts = {{"--scenario", &o.Scenario}};
  std::map<std::string, int*> ports = {{"--port", &o.Port}};
  if (prmDemo) {
    texts["--gateway-scenario"] = &o.GatewayScenario;
    ports["--avail-port"] = &o.AvailPort;
  }
  for (size_t i = 0; i < prmArgs.size(); ++i) {
    const std::string& a = prmArgs[i];
    if (a == "--help") {
      o.Help = true;
      continue;
    }
    if (!texts.count(a) && !ports.count(a)) throw EBaseException("unknown option " + a);
    if (i + 1 >= prmArgs.size()) throw EBaseException(a + " needs a value");
    const std::string& v = prmArgs[++i];
    if (texts.count(a))
      *texts[a] = v;
    else
      *ports[a] = PortValue(a, v);
  }
  return o;
}

TAvailScenario LoadScenario(const std::string& prmFile, int prmPort) {
  TAvailScenario sc = prmFile.empty() ? TAvailScenario{} : AvailScenarioFromFile(prmFile);
  if (prmPort >= 0) sc.Port = static_cast<uint16_t>(prmPort);
  return sc;
}

// Each request is printed as it arrives, so a demo shows the client's progress.
void PrintRequests(TAvailabilityServer& prmServer) {
  prmServer.SetRequestCallback([](const TAvailRequest& r) {
    std::printf("request %d: %s %s\n", r.Index, r.Method.c_str(), PrintableTarget(r).c_str());
    std::fflush(stdout);
  });
}

void PrintSummary(const TAvailabilityServer& prmServer) {
  std::printf("availability stopped: connections %d, requests %zu\n",
              prmServer.ConnectionsAccepted(), prmServer.Requests().size());
  for (const std::string& e : prmServer.Errors()) std::printf("error: %s\n", e.c_str());
}

}  // namespace

std::string PrintableTarget(const THttpRequest& prmRequest) {
  std::string out = prmRequest.Path;
  char sep = '?';
  for (const auto& [n, v] : prmRequest.Query) {
    bool secret = n == "_pid" || n == "_vdipwd" || n == "_userprofile";
    out += sep + n + "=" + (secret ? "XXXX" : v);
    sep = '&';
  }
  return out;
}

void SetPortalGateway(TAvailScenario& prmScenario, const std::string& prmHost, uint16_t prmPort) {
  TNameValues params = {{"sp_name", prmHost}, {"sp_port", std::to_string(prmPort)}};
  for (auto& p : prmScenario.PortalParams)
    if (p.first != "sp_name" && p.first != "sp_port") params.push_back(std::move(p));
  prmScenario.PortalParams = std::move(params);
}

TGatewayScenario DemoGatewayScenario(TGatewayScenario prmBase,
                                     const std::string& prmAvailHostPort) {
  prmBase.Protocol = TProtocol::First;
  prmBase.Mapping[kDemoAvailAddress] = prmAvailHostPort;
  prmBase.Mapping.emplace(kDemoXmlServiceAddress, prmAvailHostPort);
  prmBase.Mapping.emplace(kDemoControllerAddress, prmAvailHostPort);
  prmBase.Hosts.emplace("localhost", "127.0.0.1");
  return prmBase;
}

const char* AvailabilityUsage() {
  return "  availability [--scenario FILE] [--port N]\n"
         "      the availability server (plain HTTP); runs until SIGINT or SIGTERM. The first\n"
         "      output line is \"listening 127.0.0.1:PORT\"; each request is printed as it\n"
         "      arrives. Scenario keys below; an example is scenarios/avail-demo.json.\n"
         "  demo [--gateway-scenario FILE] [--scenario FILE] [--port N] [--avail-port N]\n"
         "      a first-protocol gateway (--port; FILE as for gateway) and the availability\n"
         "      server (--scenario, --avail-port) together. The gateway maps 127.0.0.1:9090 and\n"
         "      the name localhost to the availability server, so the client's store names the\n"
         "      server 127.0.0.1:9090, and each application server's port 9091 to a server\n"
         "      agent answering type 2, 10.0.1.10:80 and 10.0.1.11:80 (a XenApp farm's XML\n"
         "      service and a XenDesktop controller) to the availability server, and the ICA\n"
         "      servers the scenario's xmlService names to an echo server. First line\n"
         "      \"listening 127.0.0.1:GATEWAYPORT\", then \"gateway key sha256 FINGERPRINT\".\n"
         "      The availability server's /portal page starts a session for that gateway\n"
         "      through the Vantrel browser extension where it is installed, and offers the\n"
         "      session file (/portal/session.vantrel, application/x-vantrel-session) and the\n"
         "      vantrel: link.\n"
         "      The same by hand: start the availability server, then a gateway whose scenario\n"
         "      has \"mapping\": {\"127.0.0.1:9090\": \"127.0.0.1:AVAILPORT\"}.\n";
}

int RunAvailability(const std::vector<std::string>& prmArgs,
                    const std::function<void()>& prmWaitForStop) {
  TOptions o = ParseOptions(prmArgs, false);
  if (o.Help) {
    std::fputs(AvailabilityUsage(), stdout);
    std::fputs(AvailabilityScenarioHelp(), stdout);
    return 0;
  }
  TAvailabilityServer server(LoadScenario(o.Scenario, o.Port));
  PrintRequests(server);
  server.Start();
  std::printf("listening %s\n", server.HostPort().c_str());
  std::fflush(stdout);
  prmWaitForStop();
  server.Stop();
  PrintSummary(server);
  return 0;
}

int RunDemo(const std::vector<std::string>& prmArgs, const std::function<void()>& prmWaitForStop) {
  TOptions o = ParseOptions(prmArgs, true);
  if (o.Help) {
    std::fputs(AvailabilityUsage(), stdout);
    return 0;
  }
  TAvailabilityServer avail(LoadScenario(o.Scenario, o.AvailPort));
  PrintRequests(avail);
  avail.Start();
  TGatewayScenario gw =
      o.GatewayScenario.empty() ? TGatewayScenario{} : ScenarioFromFile(o.GatewayScenario);
  if (o.Port >= 0) gw.Port = static_cast<uint16_t>(o.Port);
  // Every application server's agent is one newer-type agent here.
  TServerAgentPeer agent(TAgentAnswer::Type2);
  agent.Start();
  for (const auto& [id, server] : avail.Scenario().AppServers)
    if (!server.Server.empty()) gw.Mapping.emplace(server.Server + ":9091", agent.HostPort());
  // The farms' ICA servers are one echo server: a launched ICA client's bytes come back.
  TTcpTestServer ica(TTcpServerMode::Echo);
  const std::string icaHostPort = "127.0.0.1:" + std::to_string(ica.Start());
  for (const std::string& server : IcaServers(avail.Scenario().XmlService))
    gw.Mapping.emplace(server, icaHostPort);
  TGatewayPeer gateway(DemoGatewayScenario(std::move(gw), avail.HostPort()));
  // What the client reports to the gateway log, verification rules included, shows in the demo.
  gateway.SetLogCallback([](const TLogRecord& r) {
    std::printf("gateway %s\n", FormatLogRecord(r).c_str());
    std::fflush(stdout);
  });
  uint16_t port = gateway.Start();
  avail.UpdateScenario(
      [&](TAvailScenario& prmSc) { SetPortalGateway(prmSc, gateway.Address(), port); });
  std::printf("listening %s:%u\n", gateway.Address().c_str(), port);
  std::printf("gateway key sha256 %s\n", gateway.KeyFingerprint().c_str());
  std::printf("availability %s reached through the tunnel as %s\n", avail.HostPort().c_str(),
              kDemoAvailAddress);
  std::printf("ica servers echoed by %s\n", icaHostPort.c_str());
  std::printf("portal page http://%s/portal offers the session file\n", avail.HostPort().c_str());
  std::fflush(stdout);
  prmWaitForStop();
  gateway.Stop();
  agent.Stop();
  ica.Stop();
  avail.Stop();
  TPeerCounters c = gateway.Counters();
  std::printf("gateway stopped: sessions %d, opens %d (refused %d)\n", c.SessionsAccepted,
              c.OpensServed, c.OpensRefused);
  for (const std::string& e : gateway.Errors()) std::printf("error: %s\n", e.c_str());
  PrintSummary(avail);
  return 0;
}

}  // namespace vantrel::testpeer
