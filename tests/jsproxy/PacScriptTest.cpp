// The script engine: every helper in one script, hostile scripts in the sandbox, and the
// network functions the helpers stand on.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "jsproxy/PacNet.h"
#include "jsproxy/PacSandbox.h"
#include "jsproxy/PacScript.h"

namespace vantrel::pac {
namespace {

std::string RunLimited(const std::string& prmScript, bool& prmOk,
                       const TPacLimits& prmLimits = {}) {
  std::string answer, error;
  prmOk = RunFindProxyForURLLimited(prmScript, "https://www.example.com/x", "www.example.com",
                                    PacNetFunctions(), prmLimits, answer, error);
  return prmOk ? answer : error;
}

TEST(PacScript, EveryHelperAnswersAsStandardScriptsExpect) {
  const std::string script = R"(
    function FindProxyForURL(url, host) {
      var y = new Date().getFullYear(), r = [];
      r.push(isPlainHostName('www'), isPlainHostName(host));
      r.push(dnsDomainIs(host, '.example.com'), dnsDomainIs('example.org', '.example.com'));
      r.push(localHostOrDomainIs('www', 'www.example.com'),
             localHostOrDomainIs('www.example.com', 'www.example.com'),
             localHostOrDomainIs('ftp', 'www.example.com'));
      r.push(isResolvable('127.0.0.1'), isResolvable(''));
      r.push(dnsResolve('127.0.0.1'), dnsResolve(''));
      r.push(/^\d+\.\d+\.\d+\.\d+$/.test(myIpAddress()));
      r.push(isInNet('10.1.2.3', '10.1.0.0', '255.255.0.0'), isInNet('10.2.2.3', '10.1.0.0', '255.255.0.0'),
             isInNet('10.1.2.3', '10.1.2.3', '255.255.255.255'), isInNet('127.0.0.1', '127.0.0.0', '255.0.0.0'));
      r.push(dnsDomainLevels('www'), dnsDomainLevels(host));
      r.push(shExpMatch(host, '*.example.*'), shExpMatch('a.b', 'a?b'), shExpMatch('axb.c', 'a.b*'));
      r.push(weekdayRange('SUN', 'SAT'), weekdayRange('SUN', 'SAT', 'GMT'), weekdayRange('XYZ'));
      r.push(dateRange(1, 31), dateRange('JAN', 'DEC'), dateRange(y), dateRange(y + 1),
             dateRange(1, 'JAN', y, 31, 'DEC', y, 'GMT'), dateRange('JAN', y + 1, 'DEC', y + 2));
      r.push(timeRange(0, 24), timeRange(0, 0, 23, 59, 'GMT'), timeRange(0, 0, 0, 23, 59, 59),
             timeRange(25));
      return 'PROXY p:1; ' + r.join(',');
    })";
  bool ok = false;
  EXPECT_EQ(RunLimited(script, ok),
            "PROXY p:1; true,false,true,false,true,true,false,true,false,127.0.0.1,,true,"
            "true,false,true,true,0,2,true,true,false,true,true,false,true,true,true,false,true,"
            "false,true,true,true,false");
  EXPECT_TRUE(ok);
}

TEST(PacScript, HostileScriptsFailWithinTheirBounds) {
  const struct {
    const char* Name;
    std::string Script;
  } cases[] = {
      {"endless loop", "function FindProxyForURL(u, h) { for (;;) {} }"},
      {"loop at load", "while (true) {} function FindProxyForURL(u, h) { return 'DIRECT'; }"},
      {"throws", "function FindProxyForURL(u, h) { throw new Error('no'); }"},
      {"garbage answer", "function FindProxyForURL(u, h) { return 42; }"},
      {"no function", "var x = 1;"},
      {"syntax error", "function FindProxyForURL(u, h) { return 'DIRECT' "},
      {"huge allocation",
       "function FindProxyForURL(u, h) { var a = []; for (;;) a.push(new Array(1e5).join('x') + "
       "a.length); }"},
      {"huge answer",
       "function FindProxyForURL(u, h) { return new Array(1 << 18).join('PROXY a:1;'); }"},
      {"deep recursion",
       "function f(n) { return f(n + 1) + 1; } function FindProxyForURL(u, h) { return f(0); }"},
      {"deep nesting",
       "function FindProxyForURL(u, h) { return " + std::string(100000, '(') + "1" + "; }"},
  };
  // Long enough for every other bound to be reached first, short enough that a script that never
  // ends costs the test little.
  TPacLimits limits;
  limits.Time = std::chrono::milliseconds(500);
  for (const auto& c : cases) {
    auto start = std::chrono::steady_clock::now();
    bool ok = true;
    std::string why = RunLimited(c.Script, ok, limits);
    EXPECT_FALSE(ok) << c.Name << ": " << why;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.Name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, limits.Time + std::chrono::seconds(1))
        << c.Name;
  }
}

TEST(PacNet, ResolveFollowsTheBufferRules) {
  char buf[64] = {};
  uint32_t size = sizeof buf;
  EXPECT_EQ(PacResolveHostName("192.168.7.9", buf, &size), kPacOk);
  EXPECT_STREQ(buf, "192.168.7.9");
  size = 5;
  EXPECT_EQ(PacResolveHostName("192.168.7.9", buf, &size), kPacBufferTooSmall);
  EXPECT_EQ(size, 12u);
  size = sizeof buf;
  EXPECT_EQ(PacResolveHostName("192.168.7.9", nullptr, &size), kPacBufferTooSmall);
  size = sizeof buf;
  EXPECT_EQ(PacResolveHostName("localhost", buf, &size), kPacOk);
  EXPECT_STREQ(buf, "127.0.0.1");
  size = 3;
  EXPECT_EQ(PacResolveHostName("localhost", buf, &size), kPacNameNotResolved);
  size = sizeof buf;
  EXPECT_EQ(PacGetIPAddress(buf, &size), kPacOk);
}

TEST(PacNet, IsInNetComparesMaskedAddresses) {
  const struct {
    const char *A, *P, *M;
    int Want;
  } cases[] = {
      {"10.1.2.3", "10.1.0.0", "255.255.0.0", 1},
      {"10.1.2.3", "10.2.0.0", "255.255.0.0", 0},
      {"10.1.2.3", "10.1.2.3", "255.255.255.255", 1},  // an exact-host mask is a valid mask
      {"10.1.2.3", "10.1.2.4", "255.255.255.255", 0},
      {"10.1.2.x", "10.1.0.0", "255.255.0.0", 0},
      {"10.1.2.3", "10.1.0.0", "", 0},
      {"::1", "::1", "255.255.255.255", 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PacIsInNet(c.A, c.P, c.M), c.Want) << c.A << " " << c.P << " " << c.M;
}

}  // namespace
}  // namespace vantrel::pac
