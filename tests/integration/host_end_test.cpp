// vantreltcs ends within 2 s of the end of its page's input (or SIGTERM) while start-up is stalled
// at the steps where a user most often gives up, however the control was started: the page's
// InitTCS, the property bag's own start, the terminal and the window.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "integration/host_console.h"
#include "integration/host_session.h"
#include "support/Xvfb.h"
#include "testpeer/AvailabilityScenario.h"
#include "tunnel/TunnelWire.h"

namespace vantrel::test {
namespace {

using TClock = std::chrono::steady_clock;

constexpr auto kReleaseBound = std::chrono::seconds(2);

// A proxy that takes the CONNECT request and never completes its reply: it stays silent, or
// sends one byte of an endless header every 500 ms.
class TStallingProxy {
 public:
  explicit TStallingProxy(bool prmDrip) : m_Drip(prmDrip) {
    m_Sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(m_Sock, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(m_Sock, 8) == 0)
      getsockname(m_Sock, reinterpret_cast<sockaddr*>(&a), &len);
    m_Port = ntohs(a.sin_port);
    m_Thd = std::thread([this] { Serve(); });
  }
  ~TStallingProxy() {
    m_Stop = true;
    m_Thd.join();
    close(m_Sock);
  }
  uint16_t Port() const { return m_Port; }
  // True once a whole CONNECT request arrived within prmMs (and, dripping, a few bytes went).
  bool WaitForConnect(int prmMs) {
    for (auto start = TClock::now(); TClock::now() - start < std::chrono::milliseconds(prmMs);) {
      if (m_Dripped >= (m_Drip ? 3 : 0) && m_Requests > 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

 private:
  struct TClient {
    int Fd;
    std::string Request;
  };
  void Serve() {
    static const char kEndless[] = "HTTP/1.1 200 Connection established\r\nX-Padding: ";
    std::vector<TClient> clients;
    auto nextDrip = TClock::now();
    while (!m_Stop) {
      std::vector<pollfd> fds{{m_Sock, POLLIN, 0}};
      for (const TClient& c : clients) fds.push_back({c.Fd, POLLIN, 0});
      poll(fds.data(), fds.size(), 50);
      if (fds[0].revents & POLLIN) {
        const int c = accept4(m_Sock, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) clients.push_back({c, {}});
      }
      for (size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & POLLIN)) continue;
        char buf[1024];
        const ssize_t n = recv(fds[i].fd, buf, sizeof buf, 0);
        TClient& c = clients[i - 1];
        if (n > 0 && c.Request.size() < 65536) {
          c.Request.append(buf, static_cast<size_t>(n));
          if (c.Request.find("\r\n\r\n") != std::string::npos) ++m_Requests;
        }
      }
      if (m_Drip && TClock::now() >= nextDrip) {
        nextDrip = TClock::now() + std::chrono::milliseconds(500);
        for (const TClient& c : clients) {
          if (c.Request.find("\r\n\r\n") == std::string::npos) continue;
          const size_t at = m_Dripped < sizeof kEndless - 1 ? m_Dripped.load() : 0;
          const char b = m_Dripped < sizeof kEndless - 1 ? kEndless[at] : 'x';
          if (send(c.Fd, &b, 1, MSG_NOSIGNAL) == 1) ++m_Dripped;
        }
      }
    }
    for (const TClient& c : clients) close(c.Fd);
  }

  const bool m_Drip;
  int m_Sock = -1;
  uint16_t m_Port = 0;
  std::atomic<bool> m_Stop{false};
  std::atomic<int> m_Requests{0};
  std::atomic<size_t> m_Dripped{0};
  std::thread m_Thd;
};

enum class TStart { PageInitTCS, PropertyBag, Terminal, Window };
enum class TStall { UserNameRequest, TunnelReply, DrippingProxy, SilentProxy };
enum class TEnd { Input, Term };

struct TCase {
  const char* Name;
  TStart Start;
  TStall Stall;
  TEnd End;
  const char* Platform;  // "Morv": the first protocol; anything else the legacy one
};

const TCase kCases[] = {
    {"InitTCS_UserName_Input", TStart::PageInitTCS, TStall::UserNameRequest, TEnd::Input, "Morv"},
    {"InitTCS_UserName_Term", TStart::PageInitTCS, TStall::UserNameRequest, TEnd::Term, "Morv"},
    {"InitTCS_TunnelReply_Input", TStart::PageInitTCS, TStall::TunnelReply, TEnd::Input, "Morv"},
    {"InitTCS_DripProxy_Input", TStart::PageInitTCS, TStall::DrippingProxy, TEnd::Input, "Morv"},
    {"InitTCS_DripProxyLegacy_Term", TStart::PageInitTCS, TStall::DrippingProxy, TEnd::Term,
     "Pelx"},
    {"InitTCS_SilentProxy_Input", TStart::PageInitTCS, TStall::SilentProxy, TEnd::Input, "Morv"},
    {"Bag_UserName_Input", TStart::PropertyBag, TStall::UserNameRequest, TEnd::Input, "Morv"},
    {"Bag_TunnelReply_Term", TStart::PropertyBag, TStall::TunnelReply, TEnd::Term, "Morv"},
    {"Bag_SilentProxyLegacy_Input", TStart::PropertyBag, TStall::SilentProxy, TEnd::Input, "Pelx"},
    {"Terminal_UserName_Term", TStart::Terminal, TStall::UserNameRequest, TEnd::Term, "Morv"},
    {"Terminal_DripProxy_Hangup", TStart::Terminal, TStall::DrippingProxy, TEnd::Input, "Morv"},
    {"Window_TunnelReply_Term", TStart::Window, TStall::TunnelReply, TEnd::Term, "Morv"},
    {"Window_UserName_Term", TStart::Window, TStall::UserNameRequest, TEnd::Term, "Morv"},
};

class HostEnds : public ::testing::TestWithParam<TCase>, protected THostSession {
 protected:
  void SetUp() override {
    const TCase& c = GetParam();
    testpeer::TAvailScenario avail =
        testpeer::AvailScenarioFromFile((ScenarioDir() / "avail-demo.json").string());
    avail.RulesXml = "<Rules/>";
    testpeer::TGatewayScenario gw = testpeer::ScenarioFromFile(VANTREL_TESTPEER_DEMO);
    if (c.Stall == TStall::UserNameRequest) gw.SilentCodes = {mcUserName};
    if (c.Stall == TStall::TunnelReply) gw.HttpReplyDelayMs = -1;
    StartPeers(std::move(avail), std::move(gw));
    setenv("VANTREL_RDP_CLIENT", "/bin/true", 1);
    for (const char* v : {"no_proxy", "NO_PROXY", "http_proxy", "https_proxy", "HTTPS_PROXY"})
      unsetenv(v);
    if (c.Stall == TStall::DrippingProxy || c.Stall == TStall::SilentProxy) {
      m_Proxy = std::make_unique<TStallingProxy>(c.Stall == TStall::DrippingProxy);
      const std::string url = "http://127.0.0.1:" + std::to_string(m_Proxy->Port());
      setenv("https_proxy", url.c_str(), 1);
      setenv("http_proxy", url.c_str(), 1);
    }
  }
  void TearDown() override {
    unsetenv("https_proxy");
    unsetenv("http_proxy");
  }

  // For the hosts without a page: custom_portal=1 would wait for a page's InitTCS, which no page
  // sends here, so the session starts only because the host starts it itself.
  std::vector<std::string> Params() const {
    return {"--param", std::string("platform=") + GetParam().Platform,
            "--param", "sp_name=127.0.0.1",
            "--param", "sp_port=" + std::to_string(m_Gateway->Port()),
            "--param", "session_id=s1",
            "--param", "custom_portal=1"};
  }

  // The window host on a private X server; its exit is waited for through THostSession.
  void StartWindow() {
    std::string why;
    ASSERT_TRUE(StartXvfb(m_Xvfb, why)) << why;
    std::vector<std::string> args = {"vantreltcs", "--ui", "gtk"};
    for (const std::string& p : Params()) args.push_back(p);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string program = BinDir() + "/vantreltcs";
    const std::string supp = "suppressions=" + (SourceRoot() / "scripts/gtk-leaks.supp").string();
    m_Pid = fork();
    ASSERT_GE(m_Pid, 0);
    if (m_Pid == 0) {
      setenv("DISPLAY", m_Xvfb.Display.c_str(), 1);
      // GTK keeps its caches until the end by design; the leak checker is told so.
      setenv("LSAN_OPTIONS", supp.c_str(), 1);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
  }

  bool Stalled() {
    switch (GetParam().Stall) {
      case TStall::UserNameRequest:
        return m_Gateway->WaitForMessage(mcUserName, kHostHangGuardMs).has_value();
      case TStall::TunnelReply:
        return m_Gateway->WaitForHttpRequest(kHostHangGuardMs);
      default:
        return m_Proxy->WaitForConnect(kHostHangGuardMs);
    }
  }

  std::unique_ptr<TStallingProxy> m_Proxy;
  TXvfb m_Xvfb;
};

TEST_P(HostEnds, WithinTwoSecondsOfThePagesEndWhileStartUpStalls) {
  const TCase& c = GetParam();
  std::unique_ptr<TConsole> console;
  switch (c.Start) {
    case TStart::PageInitTCS:
      StartHost({std::string("platform=") + c.Platform, "custom_portal=1"});
      m_Pipes.Send(R"({"id":1,"method":"InitTCS"})"
                   "\n");
      break;
    case TStart::PropertyBag:
      StartHost({std::string("platform=") + c.Platform});
      break;
    case TStart::Terminal: {
      std::vector<std::string> args = {"--ui", "terminal"};
      for (const std::string& p : Params()) args.push_back(p);
      console = std::make_unique<TConsole>(args);
      break;
    }
    case TStart::Window:
      StartWindow();
      break;
  }
  ASSERT_TRUE(Stalled());
  const auto start = TClock::now();
  const pid_t pid = console ? console->Pid() : m_Pid;
  if (c.End == TEnd::Term)
    kill(pid, SIGTERM);
  else if (console)
    console->Hangup();
  else
    m_Pipes.EndInput();
  EXPECT_EQ(console ? console->Wait() : WaitHost(), 0);
  const auto took = TClock::now() - start;
  EXPECT_LT(took, kReleaseBound);
  RecordProperty(
      "exit_ms",
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

INSTANTIATE_TEST_SUITE_P(Stalls, HostEnds, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<TCase>& prmInfo) {
                           return std::string(prmInfo.param.Name);
                         });

}  // namespace
}  // namespace vantrel::test
