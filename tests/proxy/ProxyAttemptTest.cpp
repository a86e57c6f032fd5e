// The CONNECT engine under a scripted procedure: what it carries from reply to reply, what it
// sends after each answer of the procedure, and how a call ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>

#include "platform/Dialogs.h"
#include "proxy/ProxyAttempt.h"
#include "support/LogCapture.h"
#include "support/ScriptedDialogs.h"
#include "testpeer/ProxyPeer.h"

namespace vantrel {
namespace {

using testpeer::TProxyPeer;
using testpeer::TProxyStep;

// Answers each 407 from a script: the next Proxy-Authorization value, "!end" to end the call,
// "!throw" to raise, "!reconnect" to open a new connection and send the plain CONNECT.
class TScriptedProcedure : public IProxyProcedure {
 public:
  explicit TScriptedProcedure(std::vector<std::string> prmAnswers)
      : m_Answers(std::move(prmAnswers)) {}
  TProxyReply Parse(std::string_view prmReply, bool& prmKeepAlive) override {
    TProxyReply1 reply;
    ParseProxyReply1(prmReply, reply, prmKeepAlive);
    return reply;
  }
  bool On407(TProxyAttempt& prmAttempt, bool prmKeepAlive, std::string& prmAuth) override {
    KeepAlive.push_back(prmKeepAlive);
    const std::string next = m_Answers.at(KeepAlive.size() - 1);
    if (next == "!throw") throw std::runtime_error("boom");
    if (next == "!end") return prmAttempt.Fail("procedure gave up");
    if (next == "!reconnect") {
      prmAuth.clear();
      return prmAttempt.Reconnect(TReconnectLine::Code);
    }
    prmAuth = next;
    return true;
  }
  std::vector<bool> KeepAlive;  // what each 407 saw

 private:
  std::vector<std::string> m_Answers;
};

std::string R407(const char* prmConnection) {
  return std::string("HTTP/1.1 407 Auth\r\nProxy-Authenticate: Basic\r\n") + prmConnection + "\r\n";
}

TEST(ProxyAttempt, CarriesKeepAliveAndSendsTheProcedureAnswers) {
  const std::string keep = R407("Proxy-Connection: keep-alive\r\n"), none = R407("");
  const std::string closing = R407("Proxy-Connection: close\r\n"), ok = "HTTP/1.1 200 OK\r\n\r\n";
  const struct {
    const char* Name;
    std::vector<TProxyStep> Script;
    std::vector<std::string> Answers;
    std::vector<bool> KeepAlive;                        // seen by each 407
    std::vector<std::pair<int, std::string>> Expected;  // connection, Proxy-Authorization
    std::string Failure;                                // after "failed: "; empty: a tunnel
  } cases[] = {
      {"a reply without the header keeps the previous one's",
       {{keep}, {none}, {closing}, {none}, {ok}},
       {"A1", "A2", "A3", "A4"},
       {true, true, false, false},
       {{1, ""}, {1, "A1"}, {1, "A2"}, {1, "A3"}, {1, "A4"}},
       ""},
      {"a reconnection sends the plain request on the new connection",
       {{keep, true}, {ok}},
       {"!reconnect"},
       {true},
       {{1, ""}, {2, ""}},
       ""},
      {"the procedure ends the call",
       {{keep}, {ok}},
       {"!end"},
       {true},
       {{1, ""}},
       "answered 407 Auth; procedure gave up"},
      {"an error in the procedure ends the call",
       {{keep}, {ok}},
       {"!throw"},
       {true},
       {{1, ""}},
       "answered 407 Auth; unexpected failure"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    test::TLogCapture log;
    TProxyPeer peer(c.Script);
    const uint16_t port = peer.Start();
    TScriptedDialogs dialogs;
    TScriptedProcedure procedure(c.Answers);
    TProxyAttempt attempt(dialogs, {});
    const int sock = attempt.Run("Scripted", procedure, "127.0.0.1", port, "gw.test", 443);
    EXPECT_EQ(sock >= 0, c.Failure.empty());
    if (sock >= 0) close(sock);
    peer.WaitDone(c.Failure.empty() ? 2000 : 0);
    EXPECT_EQ(procedure.KeepAlive, c.KeepAlive);
    std::vector<std::pair<int, std::string>> got;
    for (const auto& r : peer.Requests()) got.emplace_back(r.Connection, r.Bytes);
    std::vector<std::pair<int, std::string>> expected;
    for (const auto& [conn, auth] : c.Expected)
      expected.emplace_back(conn, ProxyConnectRequest("gw.test", 443, auth));
    EXPECT_EQ(got, expected);
    if (!c.Failure.empty()) {
      EXPECT_TRUE(log.HasLine("ConnectToProxy - proxy 127.0.0.1:" + std::to_string(port) +
                              " failed: " + c.Failure));
      EXPECT_EQ(log.Contains("Scripted - unexpected failure"), c.Failure.ends_with("failure"));
    }
  }
}

}  // namespace
}  // namespace vantrel
