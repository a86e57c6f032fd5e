// Both CONNECT procedures and both tunnel protocols through real squid proxies with Basic
// authentication: offered before and after NTLM, and by a squid that closes the connection after
// every reply.
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>

#include "platform/Dialogs.h"
#include "proxy/ProxyConnect.h"
#include "support/ScriptedDialogs.h"
#include "testpeer/ProxyPeerSquid.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

using testpeer::kSquidAlwaysClose;
using testpeer::kSquidBasic;
using testpeer::kSquidNtlm;
using TSquid = testpeer::TProxyPeerSquid;

// One squid of each kind for the whole file, started on first use and stopped at exit.
TSquid& Squid(const char* prmName, const std::string& prmConfigLines) {
  static std::map<std::string, std::unique_ptr<TSquid>> squids;
  auto& s = squids[prmName];
  if (!s) s = std::make_unique<TSquid>(prmName, prmConfigLines);
  return *s;
}
TSquid& BasicFirst() {
  return Squid("basic-first", std::string(kSquidBasic) + kSquidNtlm);
}
TSquid& NtlmFirst() {
  return Squid("ntlm-first", std::string(kSquidNtlm) + kSquidBasic);
}
TSquid& Closing() {
  return Squid("closing", std::string(kSquidBasic) + kSquidAlwaysClose);
}

// The proxy support library keeps credentials in $TMPDIR/VPN-<uid>/Proxy.ini.
void ForgetSavedCredentials() {
  const char* tmp = getenv("TMPDIR");
  std::filesystem::remove_all(std::string(tmp ? tmp : "/tmp") + "/VPN-" + std::to_string(getuid()));
}

class ProxySquidTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Started together: each takes a second or two.
    BasicFirst();
    NtlmFirst();
    Closing();
  }
  void SetUp() override {
    for (TSquid* s : {&BasicFirst(), &NtlmFirst(), &Closing()}) ASSERT_EQ(s->WaitReady(), "");
    m_Echo = std::make_unique<testpeer::TTcpTestServer>(testpeer::TTcpServerMode::Echo);
    m_EchoPort = m_Echo->Start();
  }

  // The tunnel carries bytes both ways to the echo server.
  static void ExpectEcho(int prmSock) {
    ASSERT_TRUE(SendAll(prmSock, reinterpret_cast<const uint8_t*>("ping"), 4));
    char buf[4] = {};
    EXPECT_EQ(recv(prmSock, buf, 4, MSG_WAITALL), 4);
    EXPECT_EQ(std::string(buf, 4), "ping");
    close(prmSock);
  }

  std::unique_ptr<testpeer::TTcpTestServer> m_Echo;
  uint16_t m_EchoPort = 0;
};

TEST_F(ProxySquidTest, Basic) {
  struct TCase {
    const char* Name;
    TSquid* Proxy;
    bool Legacy;
    const char* Password;
    bool Ok;
    size_t Dialogs;
    bool KeepSaved = false;  // start with what earlier cases saved in the proxy store
  };
  const TCase cases[] = {
      // Offered Basic then NTLM: the legacy procedure takes the first offer.
      {"legacy, right password", &BasicFirst(), true, "right-pass", true, 1},
      // A wrong password is asked again; nobody answers the second time.
      {"legacy, wrong password", &BasicFirst(), true, "wrong", false, 2},
      // Offered NTLM then Basic: the first protocol takes the last offer.
      {"first, right password", &NtlmFirst(), false, "right-pass", true, 1},
      // What the dialog gave was saved: the next call answers with it, no dialog.
      {"first, saved credentials", &NtlmFirst(), false, "unused", true, 0, true},
      {"first, wrong password", &NtlmFirst(), false, "wrong", false, 2},
      // Proxy-Connection: close on every reply: the credentials go on a new connection.
      {"first, proxy closes", &Closing(), false, "right-pass", true, 1},
      {"legacy, proxy closes", &Closing(), true, "right-pass", true, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    if (!c.KeepSaved) ForgetSavedCredentials();
    TScriptedDialogs dialogs;
    dialogs.PushLogin("alice", c.Password);
    int sock = -1;
    if (c.Legacy)
      ConnectToProxy("127.0.0.1", c.Proxy->Port(), "127.0.0.1", m_EchoPort, "", "", "", sock,
                     dialogs);
    else
      ConnectToProxy1("127.0.0.1", c.Proxy->Port(), "127.0.0.1", m_EchoPort, "", "", "", sock,
                      dialogs);
    EXPECT_EQ(sock >= 0, c.Ok);
    EXPECT_EQ(dialogs.Shown().size(), c.Dialogs);
    if (sock >= 0) ExpectEcho(sock);
  }
}

// A whole session of either protocol through a Basic proxy to the reference gateway.
template <typename TProto>
class ProxySquidSessionTest : public TTunnelTest<TProto> {};
TYPED_TEST_SUITE(ProxySquidSessionTest, TProtocols, TProtocolNames);

TYPED_TEST(ProxySquidSessionTest, ReachesReady) {
  // Each protocol meets the order of offers in which it answers Basic.
  const bool first = TypeParam::kProtocol == testpeer::TProtocol::First;
  TSquid& squid = first ? NtlmFirst() : BasicFirst();
  ASSERT_EQ(squid.WaitReady(), "");
  this->StartPeer();
  TScriptedDialogs dialogs;
  dialogs.PushLogin("alice", "right-pass");
  this->m_Mng->Link().Proxies().SetProxy("127.0.0.1", squid.Port());
  this->m_Mng->Link().SetDialogs(&dialogs);
  this->m_Mng->InitControlConnection();
  EXPECT_TRUE(this->m_Mng->IsReady(kWaitMs));
  EXPECT_EQ(dialogs.Shown().size(), 1u);
  this->m_Mng.reset();
}

}  // namespace
}  // namespace vantrel::test
