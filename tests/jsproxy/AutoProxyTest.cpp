// The engine library as its callers load it, and the control's auto-configuration path: script
// fetching, evaluation through libjsproxy.so and the answer's reading.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

#include "diag/UniqueFd.h"
#include "jsproxy/JsProxyApi.h"
#include "proxy/AutoProxy.h"
#include "support/TestEnv.h"

namespace vantrel {
namespace {

std::string WriteFile(const std::string& prmName, const std::string& prmText) {
  std::string path = test::TestRoot() + "/tmp/" + prmName;
  std::ofstream(path, std::ios::binary) << prmText;
  return path;
}

std::set<std::string> DynamicSymbols(const std::string& prmLibrary) {
  std::set<std::string> names;
  FILE* p = popen(("nm -D --defined-only " + prmLibrary + " 2>&1").c_str(), "r");
  char line[512];
  while (p && fgets(line, sizeof line, p)) {
    std::string l(line);
    l = l.substr(0, l.find_last_not_of("\n") + 1);
    names.insert(l.substr(l.rfind(' ') + 1));
  }
  if (p) {
    EXPECT_EQ(pclose(p), 0) << "nm must be installed";
  }
  return names;
}

TEST(JsProxyLibrary, ExportsOnlyItsTwoEntryPointsAndAnswersThroughThem) {
  std::string lib = test::LibDir() + "/libjsproxy.so";
  EXPECT_EQ(DynamicSymbols(lib),
            (std::set<std::string>{"InternetGetProxyInfo", "InternetInitializeAutoProxyDll"}));
  void* h = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(h, nullptr) << dlerror();
  auto init =
      reinterpret_cast<TInternetInitializeAutoProxyDll>(dlsym(h, "InternetInitializeAutoProxyDll"));
  auto ask = reinterpret_cast<TInternetGetProxyInfo>(dlsym(h, "InternetGetProxyInfo"));
  ASSERT_TRUE(init && ask);
  char* answer = nullptr;
  uint32_t length = 0;
  EXPECT_EQ(ask("https://h", 260, "h", 260, &answer, &length), 0) << "nothing loaded yet";

  std::string good =
      WriteFile("good.pac", "function FindProxyForURL(u, h) { return 'PROXY ' + h + ':8080'; }");
  std::string big = WriteFile("big.pac", std::string((1 << 20) + 1, ' '));
  EXPECT_EQ(init(0, big.c_str(), nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(init(0, "/dev/zero", nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(init(0, (test::TestRoot() + "/none.pac").c_str(), nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(init(0, good.c_str(), nullptr, nullptr, nullptr), 1);
  ASSERT_EQ(ask("https://p1", 260, "p1", 260, &answer, &length), 1);
  EXPECT_STREQ(answer, "PROXY p1:8080");
  EXPECT_EQ(length, 14u);
  std::free(answer);

  const char script[] = "function FindProxyForURL(u, h) { return u; }";
  TAutoProxyScriptBuffer buffer{sizeof(TAutoProxyScriptBuffer), script, sizeof script};
  ASSERT_EQ(init(0, nullptr, nullptr, nullptr, &buffer), 1);
  ASSERT_EQ(ask("https://p2/x", 8, "p2", 260, &answer, &length), 1)
      << "the URL is cut at its length";
  EXPECT_STREQ(answer, "https://");
  std::free(answer);
  dlclose(h);
}

TEST(AutoProxy, AnswersAreReadUpToTheFirstDirect) {
  const struct {
    const char* Text;
    bool Ok;
    bool Direct;
    const char* Proxies;
  } cases[] = {
      {"PROXY p1:8080; PROXY p2:3128; DIRECT", true, false, "p1:8080;p2:3128"},
      {"DIRECT; PROXY p1:8080", true, true, ""},
      {"  proxy p1:8080 ;HTTP p2", true, false, "p1:8080;p2"},
      {"SOCKS s:1080; HTTPS t:443; PROXY p:1", true, false, "p:1"},
      {"PROXY p:1; DIRECT; PROXY q:2", true, false, "p:1"},
      {"SOCKS s:1080", false, false, ""},
      {"PROXY", false, false, ""},
      {"PROXY a b", false, false, ""},
      {"garbage", false, false, ""},
      {"", false, false, ""},
      {";;;", false, false, ""},
  };
  for (const auto& c : cases) {
    TAutoProxyAnswer a;
    EXPECT_EQ(ParsePacAnswer(c.Text, a), c.Ok) << c.Text;
    EXPECT_EQ(a.Direct, c.Direct) << c.Text;
    EXPECT_EQ(a.ProxyText, c.Proxies) << c.Text;
  }
}

// Serves one canned HTTP reply to the first connection on a loopback port.
class TOneShotHttp {
 public:
  explicit TOneShotHttp(std::string prmReply) : m_Reply(std::move(prmReply)) {
    m_Listen.Reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    EXPECT_EQ(bind(m_Listen.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(m_Listen.Get(), 1), 0);
    getsockname(m_Listen.Get(), reinterpret_cast<sockaddr*>(&a), &len);
    m_Port = ntohs(a.sin_port);
    m_Thread = std::thread([this] {
      TUniqueFd c(accept(m_Listen.Get(), nullptr, nullptr));
      char buf[4096];
      if (c.Valid() && read(c.Get(), buf, sizeof buf) > 0) {
        ssize_t n = send(c.Get(), m_Reply.data(), m_Reply.size(), MSG_NOSIGNAL);
        (void)n;
      }
    });
  }
  ~TOneShotHttp() {
    shutdown(m_Listen.Get(), SHUT_RDWR);
    m_Thread.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(m_Port) + "/proxy.pac"; }

 private:
  std::string m_Reply;
  TUniqueFd m_Listen;
  int m_Port = 0;
  std::thread m_Thread;
};

std::string HttpReply(const std::string& prmStatus, const std::string& prmBody) {
  return "HTTP/1.1 " + prmStatus + "\r\nContent-Length: " + std::to_string(prmBody.size()) +
         "\r\nConnection: close\r\n\r\n" + prmBody;
}

TEST(AutoProxy, ScriptsComeFromFilesAndHttpOnly) {
  const std::string pac =
      "function FindProxyForURL(u, h) { return dnsDomainIs(h, '.corp') ? 'DIRECT' : 'PROXY p:3128; "
      "DIRECT'; }";
  std::string file = WriteFile("auto.pac", pac);
  TAutoProxyAnswer a;
  ASSERT_TRUE(GetProxyForUrlFromScript("file://" + file, "https://gw.example.com", a));
  EXPECT_FALSE(a.Direct);
  EXPECT_EQ(a.ProxyText, "p:3128");
  ASSERT_TRUE(GetProxyForUrlFromScript("file://" + file, "https://gw.corp", a));
  EXPECT_TRUE(a.Direct);

  std::string fetched;
  {
    TOneShotHttp server(HttpReply("200 OK", pac));
    EXPECT_TRUE(FetchProxyScript(server.Url(), fetched));
    EXPECT_EQ(fetched, pac);
  }
  {
    TOneShotHttp server(
        "HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n");
    EXPECT_FALSE(FetchProxyScript(server.Url(), fetched)) << "redirects are not followed";
  }
  {
    TOneShotHttp server(HttpReply("200 OK", std::string((1 << 20) + 1, ' ')));
    EXPECT_FALSE(FetchProxyScript(server.Url(), fetched));
  }
  mkfifo((test::TestRoot() + "/tmp/fifo.pac").c_str(), 0600);
  for (const std::string& url : std::initializer_list<std::string>{
           "file://" + test::TestRoot() + "/tmp/fifo.pac", "file://" + test::TestRoot() + "/tmp",
           "https://127.0.0.1/x.pac", "ftp://127.0.0.1/x.pac",
           "file://" + test::TestRoot() + "/none"})
    EXPECT_FALSE(FetchProxyScript(url, fetched)) << url;

  std::string throwing = WriteFile("throw.pac", "function FindProxyForURL(u, h) { throw 1; }");
  EXPECT_FALSE(GetProxyForUrlFromScript("file://" + throwing, "https://gw", a));
  EXPECT_FALSE(a.Direct) << "a failure is never direct";
}

}  // namespace
}  // namespace vantrel
