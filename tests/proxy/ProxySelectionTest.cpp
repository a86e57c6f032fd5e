// The order the tunnel openers try their ways to the gateway: the manual proxy alone, else the
// discovered entries in order (split by ExtractProxyPort2), else direct.
#include <gtest/gtest.h>
#include <unistd.h>

#include "tunnel/ProxySelector.h"

namespace vantrel {
namespace {

TEST(ProxySelection, Order) {
  struct TCase {
    const char* Name;
    TProxyRoute Route;
    bool Detected;
    bool Direct;
    std::vector<std::string> Entries;
    std::string Answering;              // the proxy that gives a tunnel ("none": none)
    std::vector<std::string> Attempts;  // "host:port" in order
    bool Tunnel;
  };
  const TCase cases[] = {
      {"manual only", {true, "m", 8080}, true, false, {"p1:1"}, "none", {"m:8080"}, false},
      {"manual answers", {true, "m", 8080}, true, false, {}, "m", {"m:8080"}, true},
      {"discovery failed", {}, false, false, {"p1:1"}, "p1", {}, false},
      {"discovery says direct", {}, true, true, {"p1:1"}, "p1", {}, false},
      {"entries in order until one answers",
       {},
       true,
       false,
       {"p1", "p2", "p3"},
       "p2",
       {"p1:80", "p2:80"},
       true},
      {"none answers, an empty entry too",
       {},
       true,
       false,
       {"p1", ""},
       "none",
       {"p1:80", ":80"},
       false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::string> attempts;
    auto connect = [&](const std::string& prmProxy, int prmPort, const std::string& prmDest,
                       int prmDestPort) {
      EXPECT_EQ(prmDest + ":" + std::to_string(prmDestPort), "gw:443");
      attempts.push_back(prmProxy + ":" + std::to_string(prmPort));
      return prmProxy == c.Answering ? dup(0) : -1;
    };
    auto detect = [&](const std::string& prmHost, std::vector<std::string>& prmList,
                      bool& prmDirect) {
      EXPECT_EQ(prmHost, "gw");
      prmList = c.Entries;
      prmDirect = c.Direct;
      return c.Detected;
    };
    const TUniqueFd sock = OpenThroughProxies(c.Route, "gw", 443, connect, detect);
    EXPECT_EQ(attempts, c.Attempts);
    EXPECT_EQ(sock.Valid(), c.Tunnel);
  }
}

TEST(ProxySelection, RaisingDiscoveryGoesDirect) {
  auto connect = [](const std::string&, int, const std::string&, int) { return -1; };
  auto detect = [](const std::string&, std::vector<std::string>&, bool&) -> bool {
    throw std::runtime_error("boom");
  };
  EXPECT_FALSE(OpenThroughProxies({}, "gw", 443, connect, detect).Valid());
}

}  // namespace
}  // namespace vantrel
