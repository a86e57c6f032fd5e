// Both CONNECT procedures against a scripted proxy: the exact request of every pass, the
// connection it came on, the dialogs shown, the companion-library calls, and no secret in the log.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

#include "diag/TextCodecs.h"
#include "platform/Dialogs.h"
#include "platform/Event.h"
#include "proxy/ProxyConnect.h"
#include "proxy/ProxyReply.h"
#include "proxy/ProxyTransport.h"
#include "proxy/ProxyUtils.h"
#include "support/LogCapture.h"
#include "support/ScriptedDialogs.h"
#include "testpeer/PeerSocket.h"
#include "testpeer/ProxyPeer.h"

namespace vantrel {
namespace {

using testpeer::TProxyPeer;
using testpeer::TProxyStep;

std::string Req(const std::string& prmAuth = {}) {
  return "CONNECT gw.test:443 HTTP/1.1\r\nUser-Agent: webclient\r\nProxy-Connection: "
         "Keep-Alive\r\nHost: gw.test\r\nContent-Length: 0\r\n" +
         (prmAuth.empty() ? "" : "Proxy-Authorization: " + prmAuth + "\r\n") + "\r\n";
}
std::string B64(const std::string& prmPair) {
  return "Basic " + Base64Encode(prmPair);
}

const std::string k200 = "HTTP/1.1 200 Connection established\r\n\r\n";
std::string R407(const std::string& prmOffers, const char* prmConnection = "close",
                 const std::string& prmExtra = {}) {
  return "HTTP/1.1 407 Proxy Authentication Required\r\n" + prmOffers +
         "Proxy-Connection: " + prmConnection + "\r\n" + prmExtra + "\r\n";
}
const std::string kBasic = "Proxy-Authenticate: Basic realm=\"p\"\r\n";
const std::string kNtlm = "Proxy-Authenticate: NTLM\r\n";
const std::string kChal = "Proxy-Authenticate: NTLM Q0hBTA==\r\n";
const TProxyStep kBasicClose{R407(kBasic), true};
const TProxyStep kOk{k200};

// The companion libraries as a test sees them: saved credentials, NTLM messages numbered by call.
struct TFakeLibrary {
  bool Stored = false;
  std::vector<std::string> NegotiateArgs;  // "domain|user|password"
  std::vector<std::string> Saved;
  int Frees = 0;
  bool NoMessages = false;

  TProxyLibrary Bind() {
    return {[this] {
              if (!Stored) return false;
              g_ProxyUser = "su";
              g_ProxyPassword = "Secret-S";
              g_ProxyDomain = "sd";
              return true;
            },
            [this](const std::string& u, const std::string& p, const std::string& d) {
              Saved.push_back(d + "|" + u + "|" + p);
              return true;
            },
            [this](const std::string&, const std::string& d, const std::string& u,
                   const std::string& p) {
              NegotiateArgs.push_back(d + "|" + u + "|" + p);
              if (NoMessages) return std::string();
              g_NtlmCtxActive = true;
              return "NEG" + std::to_string(NegotiateArgs.size());
            },
            [this](const std::string& c, int o) {
              return NoMessages ? std::string() : "AUTH-" + c + "-" + std::to_string(o);
            },
            [this] {
              ++Frees;
              g_NtlmCtxActive = false;
              return true;
            }};
  }
};

struct TLogin {
  TLogin(std::string prmUser, std::string prmPassword, std::string prmDomain = {})
      : User(std::move(prmUser)), Password(std::move(prmPassword)), Domain(std::move(prmDomain)) {}
  std::string User, Password, Domain;
};

struct TScenario {
  const char* Name;
  bool Legacy;
  std::vector<TProxyStep> Script;
  std::vector<TLogin> Logins;                         // dialog answers; none left = Cancel
  std::vector<std::pair<int, std::string>> Expected;  // connection, Proxy-Authorization
  bool Ok;
  std::vector<bool> DomainShown;  // one per dialog shown
  bool Stored = false;
};

class ConnectToProxyTest : public ::testing::Test {
 protected:
  test::TLogCapture m_Log;
};

TEST_F(ConnectToProxyTest, Scenarios) {
  const std::string body50(50, 'b'), body70(70, 'c');
  const TScenario cases[] = {
      {"open at once", false, {kOk}, {}, {{1, ""}}, true, {}},
      {"legacy open at once", true, {kOk}, {}, {{1, ""}}, true, {}},
      {"401 fails", false, {{"HTTP/1.1 401 No\r\n\r\n"}}, {}, {{1, ""}}, false, {}},
      {"no status fails", true, {{"HTTP/1.1 503 Busy\r\n\r\n"}}, {}, {{1, ""}}, false, {}},
      {"basic close: reconnect, dialog without domain",
       false,
       {kBasicClose, kOk},
       {{"bob", "Secret-1", "x"}},
       {{1, ""}, {2, B64("bob:Secret-1")}},
       true,
       {false}},
      {"basic keep-alive: saved credentials on the same connection",
       false,
       {{R407(kBasic, "Keep-Alive")}, kOk},
       {},
       {{1, ""}, {1, B64("su:Secret-S")}},
       true,
       {},
       true},
      {"saved credentials once, then the dialog",
       false,
       {{R407(kBasic, "keep-alive")}, {R407(kBasic, "keep-alive")}, kOk},
       {{"bob", "Secret-2"}},
       {{1, ""}, {1, B64("su:Secret-S")}, {1, B64("bob:Secret-2")}},
       true,
       {false},
       true},
      {"body: 50 bytes with the header, 70 drained",
       false,
       {{R407(kBasic, "keep-alive", "Content-Length: 120\r\n") + body50, false, body70}, kOk},
       {{"bob", "Secret-3"}},
       {{1, ""}, {1, B64("bob:Secret-3")}},
       true,
       {false}},
      {"NTLM then Basic offered: the last line wins",
       false,
       {{R407(kNtlm + kBasic, "keep-alive")}, kOk},
       {{"bob", "Secret-4"}},
       {{1, ""}, {1, B64("bob:Secret-4")}},
       true,
       {false}},
      {"cancel sends nothing more", false, {kBasicClose, kOk}, {}, {{1, ""}}, false, {false}},
      {"legacy cancel sends nothing more", true, {kBasicClose, kOk}, {}, {{1, ""}}, false, {false}},
      {"only other schemes: at once",
       false,
       {{R407("Proxy-Authenticate: Digest a=1\r\n")}},
       {},
       {{1, ""}},
       false,
       {}},
      {"legacy only other schemes: dialog, then fail",
       true,
       {{R407("Proxy-Authenticate: Digest a=1\r\n")}, kOk},
       {{"bob", "Secret-5"}},
       {{1, ""}},
       false,
       {false}},
      {"legacy basic: wrong password, dialog again, new offer",
       true,
       {kBasicClose, kBasicClose, kBasicClose, kOk},
       {{"bob", "Secret-6"}, {"bob", "Secret-7"}},
       {{1, ""}, {2, B64("bob:Secret-6")}, {4, ""}, {5, B64("bob:Secret-7")}},
       true,
       {false, false}},
      {"legacy basic keep-alive: same connection",
       true,
       {{R407(kBasic, "keep-alive")}, kOk},
       {{"bob", "Secret-8"}},
       {{1, ""}, {1, B64("bob:Secret-8")}},
       true,
       {false}},
      {"NTLM: logged-on user, saved credentials, then the dialog",
       false,
       {{R407(kNtlm)},
        {R407(kChal, "keep-alive")},
        {R407(kNtlm)},
        {R407(kChal, "keep-alive")},
        {R407(kNtlm)},
        {R407(kChal, "keep-alive")},
        kOk},
       {{"du", "Secret-9", "dd"}},
       {{1, ""},
        {2, "NTLM NEG1"},
        {2, "NTLM AUTH-Q0hBTA==-2"},
        {3, "NTLM NEG2"},
        {3, "NTLM AUTH-Q0hBTA==-2"},
        {4, "NTLM NEG3"},
        {4, "NTLM AUTH-Q0hBTA==-2"}},
       true,
       {true},
       true},
  };
  for (const TScenario& c : cases) {
    SCOPED_TRACE(c.Name);
    TProxyPeer peer(c.Script);
    const uint16_t port = peer.Start();
    TScriptedDialogs dialogs;
    for (const TLogin& l : c.Logins) dialogs.PushLogin(l.User, l.Password, l.Domain);
    TFakeLibrary lib;
    lib.Stored = c.Stored;
    int sock = -2;
    const auto start = std::chrono::steady_clock::now();
    if (c.Legacy)
      ConnectToProxy("127.0.0.1", port, "gw.test", 443, "", "", "", sock, dialogs);
    else
      ConnectToProxy1("127.0.0.1", port, "gw.test", 443, "", "", "", sock, dialogs, lib.Bind());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(sock >= 0, c.Ok);
    if (sock >= 0) {
      // The tunnel: what goes in comes back through the peer.
      ASSERT_EQ(send(sock, "ping", 4, 0), 4);
      char buf[4];
      EXPECT_EQ(recv(sock, buf, 4, MSG_WAITALL), 4);
      close(sock);
    }
    peer.WaitDone(c.Ok ? 2000 : 0);
    std::vector<std::pair<int, std::string>> expected;
    for (const auto& [conn, auth] : c.Expected) expected.emplace_back(conn, Req(auth));
    std::vector<std::pair<int, std::string>> got;
    for (const auto& r : peer.Requests()) got.emplace_back(r.Connection, r.Bytes);
    EXPECT_EQ(got, expected);
    std::vector<bool> shown;
    for (const auto& s : dialogs.Shown()) shown.push_back(s.Prompt.DomainVisible);
    EXPECT_EQ(shown, c.DomainShown);
    if (c.Expected.size() == 7) {
      EXPECT_EQ(lib.NegotiateArgs,
                (std::vector<std::string>{"||", "sd|su|Secret-S", "dd|du|Secret-9"}));
      EXPECT_EQ(lib.Frees, 3);
      EXPECT_EQ(lib.Saved, std::vector<std::string>{"dd|du|Secret-9"});
    }
  }
  for (const std::string& line : m_Log.Lines()) {
    EXPECT_EQ(line.find("Secret"), std::string::npos) << line;
    EXPECT_EQ(line.find("Proxy-Authorization"), std::string::npos) << line;
  }
}

// Failures that end the call, each with its log line.
TEST_F(ConnectToProxyTest, FailureLogLines) {
  TScriptedDialogs dialogs;
  int sock = 0;
  ConnectToProxy1("no-such-host.invalid", 3128, "gw.test", 443, "", "", "", sock, dialogs);
  EXPECT_EQ(sock, -1);
  EXPECT_TRUE(m_Log.HasLine("ConnectToProxy - Failed to resolve proxy name"));

  ConnectToProxy("127.0.0.1", testpeer::FreeLoopbackPort(), "gw.test", 443, "", "", "", sock,
                 dialogs);
  EXPECT_EQ(sock, -1);
  EXPECT_TRUE(m_Log.Contains("ConnectToProxy - Failed to connect 1 "));
  EXPECT_TRUE(m_Log.Contains("ConnectToProxy - Failed to connect 2 "));

  TProxyPeer peer({{"HTTP/1.1 401 Unauthorized\r\n\r\n"}, {R407(kNtlm)}});
  uint16_t port = peer.Start();
  ConnectToProxy1("127.0.0.1", port, "gw.test", 443, "", "", "", sock, dialogs);
  EXPECT_TRUE(m_Log.HasLine("Unknown reply code from proxy (401)"));

  TFakeLibrary lib;
  lib.NoMessages = true;
  TProxyPeer ntlm({TProxyStep(R407(kNtlm))});
  port = ntlm.Start();
  ConnectToProxy1("127.0.0.1", port, "gw.test", 443, "", "", "", sock, dialogs, lib.Bind());
  EXPECT_EQ(sock, -1);
  EXPECT_TRUE(m_Log.HasLine("Authentication failed, failed to GetNegotiateMsg: error:"));
}

// A failed attempt leaves one line naming the proxy and its answer, for both procedures. Reading a
// reply has one deadline however the bytes trickle in, and a stop request ends a drip at once.
TEST_F(ConnectToProxyTest, FailedProxyLine) {
  struct TCase {
    const char* Name;
    std::vector<TProxyStep> Script;
    std::string Answer;   // after "failed: "
    int WaitMs = 500;     // the reply deadline (0: the default)
    int StopAfterMs = 0;  // > 0: a stop request this long after the start
  };
  const std::string longHeader = "HTTP/1.1 200 OK\r\nX: " + std::string(300, 'x') + "\r\n\r\n";
  const TCase cases[] = {
      {"refused", {{"HTTP/1.1 403 Forbidden\r\n\r\n"}}, "answered 403 Forbidden"},
      {"malformed", {{"HTTP/1.1x20200\r\n\r\n"}}, "malformed status line"},
      {"malformed, then closed", {{"HTTP/1.1x20200", true}}, "closed the connection"},
      {"closed before answering", {{"", true}}, "closed the connection"},
      {"oversized header",
       {{R407(kBasic, "close", "X: " + std::string(kMaxProxyHeader, 'x') + "\r\n")}},
       "reply header over 64 KiB"},
      {"dialog cancelled",
       {kBasicClose, kOk},
       "answered 407 Proxy Authentication Required; credentials dialog cancelled"},
      {"drip", {{k200, false, {}, 100}}, "no complete reply header within 500 ms"},
      {"stop during a drip",
       {{longHeader, false, {}, 100}},
       "stopped while waiting for the reply",
       0,
       300},
  };
  for (const bool legacy : {false, true}) {
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (legacy ? " (legacy)" : ""));
      m_Log.Clear();
      TProxyPeer peer(c.Script);
      const uint16_t port = peer.Start();
      TScriptedDialogs dialogs;
      TFakeLibrary lib;
      TEvent stop(true);
      TProxyStopScope stopScope(stop.Fd());
      std::optional<TProxyWaitScope> waitScope;
      if (c.WaitMs > 0) waitScope.emplace(c.WaitMs);
      std::thread stopper([&] {
        if (c.StopAfterMs > 0 && !stop.Wait(c.StopAfterMs)) stop.Set();
      });
      int sock = -2;
      const auto start = std::chrono::steady_clock::now();
      if (legacy)
        ConnectToProxy("127.0.0.1", port, "gw.test", 443, "", "", "", sock, dialogs);
      else
        ConnectToProxy1("127.0.0.1", port, "gw.test", 443, "", "", "", sock, dialogs, lib.Bind());
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
      stop.Set();
      stopper.join();
      EXPECT_EQ(sock, -1);
      EXPECT_EQ(m_Log.Count("ConnectToProxy - proxy "), 1u);
      EXPECT_TRUE(m_Log.HasLine("ConnectToProxy - proxy 127.0.0.1:" + std::to_string(port) +
                                " failed: " + c.Answer));
    }
  }
}

}  // namespace
}  // namespace vantrel
