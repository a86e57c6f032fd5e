// Both CONNECT procedures through a real squid with NTLM authentication (squid's fake helper, which
// lets any credentials pass), offered before and after Basic.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "diag/TextCodecs.h"
#include "platform/Dialogs.h"
#include "proxy/MIdAuthenticationNTLM.h"
#include "proxy/ProxyConnect.h"
#include "proxy/ProxyUtils.h"
#include "support/ScriptedDialogs.h"
#include "support/TestEnv.h"
#include "testpeer/ProxyPeerSquid.h"
#include "testpeer/TcpTestServer.h"

// The NTLMSSP mechanism loses a few digest objects of OpenSSL on every handshake; nothing else in
// this binary allocates through OpenSSL, so those are the only reports suppressed.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libcrypto.so\n";
}

namespace vantrel {
namespace {

using testpeer::TProxyPeerSquid;

// The NTLM library's three entry points answered by the NTLMSSP mechanism, so that the first
// protocol's NTLM passes meet a real proxy.
struct TMechanismLibrary {
  std::unique_ptr<TIndySSPINTLMClient> Client;
  std::vector<std::string> Negotiates;  // "domain|user"

  TProxyLibrary Bind() {
    return {[] { return false; },
            [](const std::string&, const std::string&, const std::string&) { return false; },
            [this](const std::string& prmServer, const std::string& prmDomain,
                   const std::string& prmUser, const std::string& prmPassword) {
              Negotiates.push_back(prmDomain + "|" + prmUser);
              Client = std::make_unique<TIndySSPINTLMClient>(prmServer);
              Client->SetCredentials(prmDomain, prmUser, prmPassword);
              const TBytes t = Client->InitAndBuildType1Message();
              g_NtlmCtxActive = true;
              return Base64Encode(t.data(), t.size());
            },
            [this](const std::string& prmChallenge, int) {
              const TBytes t = Client->UpdateAndBuildType3Message(Base64Decode(prmChallenge));
              return Base64Encode(t.data(), t.size());
            },
            [this] {
              Client.reset();
              g_NtlmCtxActive = false;
              return true;
            }};
  }
};

void ExpectEcho(int prmSock) {
  ASSERT_EQ(send(prmSock, "ping", 4, MSG_NOSIGNAL), 4);
  char buf[4] = {};
  EXPECT_EQ(recv(prmSock, buf, 4, MSG_WAITALL), 4);
  EXPECT_EQ(std::string(buf, 4), "ping");
  close(prmSock);
}

TEST(ConnectSquidNtlm, BothOrders) {
  // The logged-on user of the NTLMSSP mechanism.
  const std::string users = test::TestRoot() + "/ntlm-users";
  std::ofstream(users) << "CORP:alice:right-pass\n";
  setenv("NTLM_USER_FILE", users.c_str(), 1);
  TProxyPeerSquid ntlmFirst("ntlm-first",
                            std::string(testpeer::kSquidNtlm) + testpeer::kSquidBasic);
  TProxyPeerSquid basicFirst("basic-first",
                             std::string(testpeer::kSquidBasic) + testpeer::kSquidNtlm);
  ASSERT_EQ(ntlmFirst.WaitReady(), "");
  ASSERT_EQ(basicFirst.WaitReady(), "");
  testpeer::TTcpTestServer echo(testpeer::TTcpServerMode::Echo);
  const uint16_t echoPort = echo.Start();

  // The legacy procedure takes NTLM offered first, as the logged-on user, without a dialog.
  TScriptedDialogs dialogs;
  int sock = -1;
  ConnectToProxy("127.0.0.1", ntlmFirst.Port(), "127.0.0.1", echoPort, "", "", "", sock, dialogs);
  ASSERT_GE(sock, 0);
  EXPECT_TRUE(dialogs.Shown().empty());
  ExpectEcho(sock);

  // The first protocol takes NTLM offered last, as the logged-on user (empty credentials).
  TMechanismLibrary lib;
  ConnectToProxy1("127.0.0.1", basicFirst.Port(), "127.0.0.1", echoPort, "", "", "", sock, dialogs,
                  lib.Bind());
  ASSERT_GE(sock, 0);
  EXPECT_EQ(lib.Negotiates, std::vector<std::string>{"|"});
  EXPECT_FALSE(g_NtlmCtxActive);
  EXPECT_TRUE(dialogs.Shown().empty());
  ExpectEcho(sock);
}

}  // namespace
}  // namespace vantrel
