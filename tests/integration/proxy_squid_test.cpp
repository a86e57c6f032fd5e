// Both CONNECT procedures and both tunnel protocols through real squid proxies, each started on a
// private loopback port with its own configuration: Basic (htpasswd) and NTLM (fake helper) in
// both offer orders, and a squid that closes the connection after every reply.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "diag/TextCodecs.h"
#include "platform/Dialogs.h"
#include "proxy/MIdAuthenticationNTLM.h"
#include "proxy/ProxyConnect.h"
#include "proxy/ProxyUtils.h"
#include "support/TestEnv.h"
#include "tunnel_fixture.h"

namespace vantrel::test {
namespace {

constexpr const char* kSquid = "/usr/sbin/squid";
constexpr const char* kHelpers = "/usr/lib/squid/";

std::string RunText(const std::string& prmCommand) {
  std::string out;
  if (FILE* p = popen(prmCommand.c_str(), "r")) {
    char buf[256];
    while (fgets(buf, sizeof buf, p) != nullptr) out += buf;
    pclose(p);
  }
  return Trim(out);
}

uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// One squid in the foreground (-N) with its configuration, logs and pid file in its own folder.
class TSquid {
 public:
  TSquid(const std::string& prmName, const std::string& prmAuthLines) {
    // Outside the test's private folder: squid drops to its own user, which must write its log
    // here and read the password file.
    std::string dir = "/tmp/vantrel-squid-" + prmName + "-XXXXXX";
    if (mkdtemp(dir.data()) != nullptr) m_Dir = dir;
    chmod(m_Dir.c_str(), 0777);
    std::ofstream(m_Dir + "/htpasswd")
        << "alice:" << RunText("openssl passwd -apr1 right-pass") << "\n";
    chmod((m_Dir + "/htpasswd").c_str(), 0644);
    m_Port = FreePort();
    std::ofstream(m_Dir + "/squid.conf")
        << "http_port 127.0.0.1:" << m_Port << "\npid_filename " << m_Dir
        << "/squid.pid\ncache_log " << m_Dir
        << "/cache.log\naccess_log none\ncache_store_log none\npinger_enable off\n"
        << "coredump_dir " << m_Dir << "\ncache deny all\nshutdown_lifetime 0 seconds\n"
        << Replace(prmAuthLines) << "acl auth proxy_auth REQUIRED\nhttp_access allow auth\n"
        << "http_access deny all\n";
    const std::string conf = m_Dir + "/squid.conf";
    const std::string outLog = m_Dir + "/out.log";
    m_Pid = fork();
    if (m_Pid == 0) {
      const int out = open(outLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(out, 2);
      execl(kSquid, kSquid, "-N", "-f", conf.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~TSquid() {
    if (m_Pid <= 0) return;
    kill(m_Pid, SIGTERM);
    int status = 0;
    if (!Eventually([&] { return waitpid(m_Pid, &status, WNOHANG) == m_Pid; }, 10000)) {
      kill(m_Pid, SIGKILL);
      waitpid(m_Pid, &status, 0);
    }
    if (m_Dir.rfind("/tmp/vantrel-squid-", 0) == 0) std::filesystem::remove_all(m_Dir);
  }
  // Accepting connections within the bound, or the reason why not.
  std::string WaitReady() {
    if (access(kSquid, X_OK) != 0) return std::string(kSquid) + " is not installed";
    if (Eventually(
            [&] {
              const int s = ConnectLocal(m_Port);
              if (s >= 0) close(s);
              return s >= 0;
            },
            20000))
      return {};
    std::ifstream log(m_Dir + "/cache.log");
    return "squid did not start: " + std::string(std::istreambuf_iterator<char>(log), {});
  }
  uint16_t Port() const { return m_Port; }

 private:
  std::string Replace(std::string prmText) const {
    const std::string key = "$DIR";
    for (size_t at; (at = prmText.find(key)) != std::string::npos;) prmText.replace(at, 4, m_Dir);
    return prmText;
  }

  std::string m_Dir;
  uint16_t m_Port = 0;
  pid_t m_Pid = -1;
};

const std::string kBasicAuth = std::string("auth_param basic program ") + kHelpers +
                               "basic_ncsa_auth $DIR/htpasswd\nauth_param basic realm test\n";
const std::string kNtlmAuth = std::string("auth_param ntlm program ") + kHelpers +
                              "ntlm_fake_auth\nauth_param ntlm children 2\n";
const std::string kAlwaysClose =
    "client_persistent_connections off\nreply_header_add Proxy-Connection close all\n";

// The NTLM library's three entry points answered by the NTLMSSP mechanism, so that the first
// protocol's NTLM passes meet a real proxy.
struct TMechanismLibrary {
  std::unique_ptr<TIndySSPINTLMClient> Client;
  int Negotiates = 0;

  TProxyLibrary Bind() {
    return {[] { return false; },
            [](const std::string&, const std::string&, const std::string&) { return false; },
            [this](const std::string& prmServer, const std::string& prmDomain,
                   const std::string& prmUser, const std::string& prmPassword) {
              ++Negotiates;
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

// One squid of each kind for the whole file, started on first use and stopped at exit.
TSquid& Squid(const char* prmName, const std::string& prmAuthLines) {
  static std::map<std::string, std::unique_ptr<TSquid>> squids;
  auto& s = squids[prmName];
  if (!s) s = std::make_unique<TSquid>(prmName, prmAuthLines);
  return *s;
}
TSquid& BasicFirst() {
  return Squid("basic-first", kBasicAuth + kNtlmAuth);
}
TSquid& NtlmFirst() {
  return Squid("ntlm-first", kNtlmAuth + kBasicAuth);
}
TSquid& Closing() {
  return Squid("closing", kBasicAuth + kAlwaysClose);
}

class ProxySquidTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The logged-on user of the NTLMSSP mechanism.
    const std::string users = TestRoot() + "/ntlm-users";
    std::ofstream(users) << "CORP:alice:right-pass\n";
    setenv("NTLM_USER_FILE", users.c_str(), 1);
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
  };
  const TCase cases[] = {
      // Offered Basic then NTLM: the legacy procedure takes the first offer.
      {"legacy, right password", &BasicFirst(), true, "right-pass", true, 1},
      // A wrong password is asked again; nobody answers the second time.
      {"legacy, wrong password", &BasicFirst(), true, "wrong", false, 2},
      // Offered NTLM then Basic: the first protocol takes the last offer.
      {"first, right password", &NtlmFirst(), false, "right-pass", true, 1},
      {"first, wrong password", &NtlmFirst(), false, "wrong", false, 2},
      // Proxy-Connection: close on every reply: the credentials go on a new connection.
      {"first, proxy closes", &Closing(), false, "right-pass", true, 1},
      {"legacy, proxy closes", &Closing(), true, "right-pass", true, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
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

TEST_F(ProxySquidTest, Ntlm) {
  // The legacy procedure takes NTLM offered first, as the logged-on user, without a dialog.
  TScriptedDialogs dialogs;
  int sock = -1;
  ConnectToProxy("127.0.0.1", NtlmFirst().Port(), "127.0.0.1", m_EchoPort, "", "", "", sock,
                 dialogs);
  ASSERT_GE(sock, 0);
  EXPECT_TRUE(dialogs.Shown().empty());
  ExpectEcho(sock);

  // The first protocol takes NTLM offered last; its messages come from the library binding.
  TMechanismLibrary lib;
  ConnectToProxy1("127.0.0.1", BasicFirst().Port(), "127.0.0.1", m_EchoPort, "", "", "", sock,
                  dialogs, lib.Bind());
  ASSERT_GE(sock, 0);
  EXPECT_EQ(lib.Negotiates, 1);
  EXPECT_FALSE(g_NtlmCtxActive);
  ExpectEcho(sock);
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
  this->m_Mng->SetProxy("127.0.0.1", squid.Port());
  this->m_Mng->SetDialogs(&dialogs);
  this->m_Mng->InitControlConnection();
  EXPECT_TRUE(this->m_Mng->IsReady(kWaitMs));
  EXPECT_EQ(dialogs.Shown().size(), 1u);
  this->m_Mng.reset();
}

}  // namespace
}  // namespace vantrel::test
