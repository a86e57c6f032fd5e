// The CGP listener over a real tunnel: the tunnel manager of the first protocol connected to the
// reference gateway, which relays to an echo server standing in for the CGP port, so what comes
// back is what went through the tunnel.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "catalogue/DPP.h"
#include "catalogue/XenAppFarm.h"
#include "citrix/CitrixClient.h"
#include "citrix/CitrixDoubles.h"
#include "citrix/CitrixLaunch.h"
#include "config/DbMng.h"
#include "diag/UniqueFd.h"
#include "diag/Xml.h"
#include "platform/Dialogs.h"
#include "platform/ProcessSpawn.h"
#include "support/LogCapture.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnv.h"
#include "testpeer/GatewayPeer.h"
#include "testpeer/TcpTestServer.h"
#include "tunnel/TCSProtocolMorv.h"

namespace vantrel::test {
namespace {

namespace fs = std::filesystem;

// Sends prmPiece on the connection and reads back as many bytes (bounded by the socket timeout).
std::string EchoOf(int prmFd, const std::string& prmPiece) {
  EXPECT_EQ(send(prmFd, prmPiece.data(), prmPiece.size(), 0),
            static_cast<ssize_t>(prmPiece.size()));
  std::string back;
  char buf[256];
  while (back.size() < prmPiece.size()) {
    ssize_t n = recv(prmFd, buf, sizeof buf, 0);
    if (n <= 0) break;
    back.append(buf, static_cast<size_t>(n));
  }
  return back;
}

TEST(CitrixTunnelTest, OnlyTheFirstCGPPieceGetsTheIcaPort) {
  const std::string root = TestRoot() + "/citrix-tunnel";
  fs::remove_all(root);
  fs::create_directories(root + "/pkginf");
  std::ofstream(root + "/pkginf/Ver.core.x86_64") << "24.2.0.65\n";
  TIcaClientSources sources;
  sources.DefaultProgram = root + "/wfica";
  std::ofstream(sources.DefaultProgram) << "#!/bin/sh\n";
  chmod(sources.DefaultProgram.c_str(), 0755);
  FindCitrixClient(sources);

  testpeer::TTcpTestServer echo(testpeer::TTcpServerMode::Echo);
  echo.Start();
  testpeer::TGatewayScenario scenario;
  scenario.Mapping["10.0.0.9:2598"] = "127.0.0.1:" + std::to_string(echo.Port());
  testpeer::TGatewayPeer peer(scenario);
  const uint16_t port = peer.Start();
  auto tunnel = std::make_unique<CAppMngMorv>("127.0.0.1", port, "sid=abc", "sess", "mod", "dev");
  tunnel->InitControlConnection();
  ASSERT_TRUE(tunnel->IsReady(20000));

  TXmlDoc doc = TXmlDoc::Parse("<Farm Servers=\"xa1,\">2</Farm>");
  TXenAppFarm farm(doc.Root());
  TXenApp app;
  app.SetFarm(&farm);
  app.SetName("Word");
  app.SetSeqNo("Word");
  TScriptedService service;
  service.AppAnswers["xa1"] = {kCitrixOK, "10.0.0.9:1494", "*:2598", "", "T"};
  TScriptedDialogs dialogs;
  TCitrixLaunchEnv env{service, dialogs, [](pid_t prmPid) {
                         int code = 0;
                         WaitProcess(prmPid, nullptr, 5000, code);
                       }};
  TLogCapture log;
  TDPP dpp;
  TDBMng store;
  LaunchApp(app, *tunnel, dpp, store, "jo", "", "", env);
  EXPECT_TRUE(dialogs.Shown().empty());

  const std::string opened = "LaunchApp - Connection is open local CGP port is ";
  int cgpPort = 0;
  for (const std::string& line : log.Lines())
    if (line.rfind(opened, 0) == 0) cgpPort = std::stoi(line.substr(opened.size()));
  ASSERT_GT(cgpPort, 0);
  TUniqueFd fd(socket(AF_INET, SOCK_STREAM, 0));
  timeval wait{5, 0};
  setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(cgpPort));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd.Get(), reinterpret_cast<sockaddr*>(&to), sizeof to), 0);

  using namespace std::string_literals;
  EXPECT_EQ(EchoOf(fd.Get(), "hi 127.0.0.1:50123 x"), "hi 127.0.0.1:1494\0 x"s);
  EXPECT_EQ(EchoOf(fd.Get(), "127.0.0.1:50124"), "127.0.0.1:50124") << "the filter is done";
  fd.Reset();
  tunnel.reset();
  peer.Stop();
}

}  // namespace
}  // namespace vantrel::test
