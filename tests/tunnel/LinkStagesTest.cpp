#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <string>
#include <thread>

#include "diag/Exceptions.h"
#include "platform/Event.h"
#include "tunnel/LinkStages.h"
#include "tunnel/TunnelRequest.h"

namespace vantrel {
namespace {

// The channel beneath the request stage: records what was written, replays scripted replies.
class TFakeChannel : public ITunnelChannel {
 public:
  bool WriteOk = true;
  bool ReplyTimesOut = false;
  std::string Reply;
  std::string Written;

  bool Write(const std::string& prmBytes) override {
    Written += prmBytes;
    return WriteOk;
  }
  bool ReadReply(char* prmBuf, int prmLen, bool, int& prmGot) override {
    if (ReplyTimesOut) throw EBaseException("Failed to establish control connection");
    prmGot = std::min(prmLen, static_cast<int>(Reply.size()));
    Reply.copy(prmBuf, static_cast<size_t>(prmGot));
    return true;
  }
};

class TFakeProtocol : public ILinkProtocol {
 public:
  int InitSent = 0;
  int DeviceType() const override { return 2; }
  std::string TunnelRequest() const override { return "REQ"; }
  bool CheckReply(ITunnelChannel& prmChannel) override {
    char buf[64] = {};
    int got = 0;
    prmChannel.ReadReply(buf, sizeof buf, true, got);
    return std::string(buf, static_cast<size_t>(got)) == "OK";
  }
  void SendInitMsg() override { ++InitSent; }
};

TEST(LinkStages, TunnelRequestStageOutcomes) {
  struct TCase {
    const char* Name;
    bool WriteOk, TimesOut;
    std::string Reply;
    std::string Error;  // empty: the tunnel opens and the init message follows
  };
  const TCase cases[] = {
      {"opened", true, false, "OK", ""},
      {"send failed", false, false, "OK", "Failed to send init message"},
      {"refused", true, false, "NO", "Gateway did not open control connection"},
      {"silent", true, true, "", "Failed to establish control connection"},
  };
  for (const TCase& c : cases) {
    TFakeChannel channel;
    channel.WriteOk = c.WriteOk;
    channel.ReplyTimesOut = c.TimesOut;
    channel.Reply = c.Reply;
    TFakeProtocol protocol;
    std::string error;
    try {
      RequestTunnel(channel, protocol);
    } catch (const EBaseException& e) {
      error = e.GetMsg();
    }
    EXPECT_EQ(error, c.Error) << c.Name;
    EXPECT_EQ(channel.Written, "REQ") << c.Name;
    EXPECT_EQ(protocol.InitSent, c.Error.empty() ? 1 : 0) << c.Name;
  }
}

TEST(LinkStages, DirectConnectReportsEachFailureAndEndsOnStop) {
  // A port nobody listens on: bound, never listening, so the connection is refused.
  int closed = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(closed, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  getsockname(closed, reinterpret_cast<sockaddr*>(&addr), &len);
  const int refusedPort = ntohs(addr.sin_port);
  int open = socket(AF_INET, SOCK_STREAM, 0);
  addr.sin_port = 0;
  bind(open, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(open, 1);
  getsockname(open, reinterpret_cast<sockaddr*>(&addr), &len);
  const int openPort = ntohs(addr.sin_port);

  struct TCase {
    const char* Name;
    std::string Host;
    int Port;
    bool Stopped;
    std::string Error;  // prefix; empty: connected
  };
  const TCase cases[] = {
      {"connected", "127.0.0.1", openPort, false, ""},
      {"refused", "127.0.0.1", refusedPort, false, "Failed to connect to gateway ("},
      {"unresolvable", "no-such-host.invalid", openPort, false, "Failed to resolve host"},
      // An address that does not answer: only the stop request ends the wait.
      {"cancelled", "10.255.255.1", openPort, true, "Failed to connect to gateway ("},
  };
  for (const TCase& c : cases) {
    TEvent stop(true);
    if (c.Stopped) stop.Set();
    std::string ip, error;
    try {
      TUniqueFd sock = ConnectDirect(c.Host, c.Port, stop.Fd(), ip);
      EXPECT_TRUE(sock) << c.Name;
    } catch (const EBaseException& e) {
      error = e.GetMsg();
    }
    EXPECT_EQ(error.substr(0, c.Error.size()), c.Error) << c.Name << ": " << error;
    EXPECT_EQ(error.empty(), c.Error.empty()) << c.Name;
    EXPECT_EQ(ip, c.Error.empty() ? "127.0.0.1" : "") << c.Name;
  }
  close(open);
  close(closed);
}

TEST(LinkStages, TlsStageFailsWholeOnAPeerThatIsNoGateway) {
  // The stage below is a connected socket; a peer that answers the handshake with plain text,
  // or not at all, leaves no channel behind.
  for (const std::string& reply :
       {std::string("HTTP/1.1 400 Bad Request\r\n\r\n"), std::string()}) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    std::thread peer([&] {
      char buf[4096];
      (void)!read(pair[1], buf, sizeof buf);  // the client's hello
      if (!reply.empty()) (void)!write(pair[1], reply.data(), reply.size());
      close(pair[1]);
    });
    TLoggingDialogs dialogs;
    TEvent stop(true);
    bool failed = false;
    try {
      SecureChannel(pair[0], "gw.example", 443, 2, dialogs, nullptr, stop);
    } catch (const EBaseException&) {
      failed = true;
    }
    EXPECT_TRUE(failed) << reply;
    peer.join();
    close(pair[0]);
  }
}

TEST(LinkStages, ProxyStageGoesDirectWhenNoProxyCarries) {
  struct TCase {
    const char* Name;
    bool Manual;
    std::vector<std::string> Found;
    std::vector<std::string> Tried;
  };
  const TCase cases[] = {
      {"manual only", true, {"p1:81"}, {"man:3128"}},
      {"discovered in order", false, {"p1:81", "p2:82"}, {"p1:81", "p2:82"}},
      {"none found", false, {}, {}},
  };
  for (const TCase& c : cases) {
    CProxyStage stage([]() -> IDialogs& {
      static TLoggingDialogs none;
      return none;
    });
    if (c.Manual) stage.SetProxy("man", 3128);
    stage.SetDiscovery([&](const std::string&, std::vector<std::string>& prmList, bool& prmDirect) {
      prmList = c.Found;
      prmDirect = c.Found.empty();
      return true;
    });
    std::vector<std::string> tried;
    stage.SetConnector([&](const std::string& prmProxy, int prmPort, const std::string&, int) {
      tried.push_back(prmProxy + ":" + std::to_string(prmPort));
      return -1;
    });
    TEvent stop(true);
    EXPECT_FALSE(stage.Open("gw", 443, stop.Fd())) << c.Name;
    EXPECT_EQ(tried, c.Tried) << c.Name;
  }
}

}  // namespace
}  // namespace vantrel
