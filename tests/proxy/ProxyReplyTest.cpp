// The CONNECT request bytes and both reply readers: the status line, keep-alive carry-over,
// Content-Length against body bytes already read, and which offered scheme wins.
#include <gtest/gtest.h>

#include "proxy/MIdAuthentication.h"
#include "proxy/MIdAuthenticationNTLM.h"
#include "proxy/ProxyReply.h"

namespace vantrel {
namespace {

TEST(ProxyReply, RequestTemplates) {
  EXPECT_EQ(ProxyConnectRequest("gw.example", 443),
            "CONNECT gw.example:443 HTTP/1.1\r\nUser-Agent: webclient\r\nProxy-Connection: "
            "Keep-Alive\r\nHost: gw.example\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(ProxyConnectRequest("10.0.0.1", 8443, "NTLM TlRMTVNTUAAB"),
            "CONNECT 10.0.0.1:8443 HTTP/1.1\r\nUser-Agent: webclient\r\nProxy-Connection: "
            "Keep-Alive\r\nHost: 10.0.0.1\r\nContent-Length: 0\r\nProxy-Authorization: NTLM "
            "TlRMTVNTUAAB\r\n\r\n");
}

TEST(ProxyReply, StatusLengthAndKeepAlive) {
  struct TCase {
    const char* Reply;
    bool KeepBefore;
    int Status;
    int Body;
    bool KeepAfter;
  };
  const TCase cases[] = {
      {"HTTP/1.1 200 Connection established\r\n\r\n", false, 200, 0, false},
      {"HTTP/1.0 503 Service Unavailable\r\n\r\n", true, 0, 0, true},
      {"HTTP/1.1 401 Unauthorized\r\n\r\n", false, 401, 0, false},
      // The code is the three digits, never a number in the reason phrase.
      {"HTTP/1.1 407 x200\r\n\r\n", false, 407, 0, false},
      {"HTTP/1.1 200 401\r\n\r\n", false, 200, 0, false},
      {"HTTP/1.1 200\r\n\r\n", false, 200, 0, false},
      {"HTTP/2.0 407 P\r\n\r\n", false, 407, 0, false},
      // Not "HTTP/d.d ddd" then a blank or the line's end, or no blank line: a proxy error.
      {"HTTP/1.1x20200", false, 0, 0, false},
      {"HTTP/1.1x20200\r\n\r\n", false, 0, 0, false},
      {"HTTP/1.1 20\r\n\r\n", false, 0, 0, false},
      {"HTTP/1.1 2000 OK\r\n\r\n", false, 0, 0, false},
      {"HTTP/1.1  200 OK\r\n\r\n", false, 0, 0, false},
      {"HTTP/11 200\r\n\r\n", false, 0, 0, false},
      {"HTTP/1.1 200 OK\r\n", false, 0, 0, false},
      {"HTTP/1.1 200 OK\r\nX: y\r\n", false, 0, 0, false},
      {"HTTP/1.1 200\nX: y\r\n\r\n", false, 0, 0, false},
      {"X: y\r\nHTTP/1.1 200 OK\r\n\r\n", false, 0, 0, false},
      {"http/1.1 200 OK\r\n\r\n", false, 0, 0, false},
      {"HTTP/1.1 407 P\r\nProxy-Connection: keep-alive\r\n\r\n", false, 407, 0, true},
      {"HTTP/1.1 407 P\r\nProxy-Connection: close\r\n\r\n", true, 407, 0, false},
      {"HTTP/1.1 407 P\r\nproxy-connection: close\r\n\r\n", true, 407, 0, true},
      // 120 declared, 50 already in the text read: 70 still to come.
      {"HTTP/1.1 407 P\r\nContent-Length: 120\r\n\r\n"
       "01234567890123456789012345678901234567890123456789",
       false, 407, 70, false},
      {"HTTP/1.1 407 P\r\nContent-Length: 12x\r\n\r\n", false, 407, 0, false},
      {"HTTP/1.1 407 P\r\nContent-Length: -5\r\n\r\n", false, 407, -5, false},
      // No header end: the rest is parsed as it stands, but there is no status.
      {"HTTP/1.1 407 Proxy Auth\r\nProxy-Connection: keep-alive", false, 0, 0, true},
      {"", true, 0, 0, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Reply);
    bool keep1 = c.KeepBefore, keep = c.KeepBefore;
    TProxyReply1 r1;
    ParseProxyReply1(c.Reply, r1, keep1);
    TProxyReply r;
    std::unique_ptr<TMIdAuthentication> auth;
    ParseProxyReply(c.Reply, r, auth, keep);
    EXPECT_EQ(r1.Status, c.Status);
    EXPECT_EQ(r1.BodyLength, c.Body);
    EXPECT_EQ(keep1, c.KeepAfter);
    EXPECT_EQ(r.Status, c.Status);
    EXPECT_EQ(r.BodyLength, c.Body);
    EXPECT_EQ(keep, c.KeepAfter);
  }
}

TEST(ProxyReply, OfferedSchemes) {
  struct TCase {
    const char* Offers;
    TProxyAuthKind Kind;  // first protocol: the last Basic/NTLM line wins
    const char* Challenge;
    const char* Scheme;  // legacy: the first offered scheme makes the object ("" none)
    const char* Params;  // ... whose AuthParams hold the last line
  };
  const TCase cases[] = {
      {"Proxy-Authenticate: NTLM\r\nProxy-Authenticate: Basic realm=\"p\"\r\n", pakBasic, "",
       "NTLM", "Basic realm=\"p\""},
      {"Proxy-Authenticate: Basic realm=\"p\"\r\nProxy-Authenticate: NTLM\r\n", pakNTLM, "",
       "Basic", "NTLM"},
      {"Proxy-Authenticate: NTLM TlRMTVNTUAAC\r\n", pakNTLMChallenge, "TlRMTVNTUAAC", "NTLM",
       "NTLM TlRMTVNTUAAC"},
      {"Proxy-Authenticate: Basic x\r\nProxy-Authenticate: Digest realm=\"d\"\r\n", pakBasic, "",
       "Basic", "Digest realm=\"d\""},
      {"Proxy-Authenticate: Negotiate\r\nProxy-Authenticate: Digest a=b\r\n", pakNone, "", "", ""},
      {"Proxy-Authenticate: ntlm\r\nProxy-authenticate: NTLM\r\n", pakNone, "", "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Offers);
    const std::string reply = std::string("HTTP/1.1 407 P\r\n") + c.Offers + "\r\n";
    bool keep = false;
    TProxyReply1 r1;
    ParseProxyReply1(reply, r1, keep);
    EXPECT_EQ(r1.Kind, c.Kind);
    EXPECT_EQ(r1.Challenge, c.Challenge);
    TProxyReply r;
    std::unique_ptr<TMIdAuthentication> auth;
    ParseProxyReply(reply, r, auth, keep);
    const std::string scheme = !auth                                                  ? ""
                               : dynamic_cast<TIdSSPINTLMAuthentication*>(auth.get()) ? "NTLM"
                                                                                      : "Basic";
    EXPECT_EQ(scheme, c.Scheme);
    if (auth) {
      EXPECT_EQ(auth->AuthParams(), std::vector<std::string>{c.Params});
    }
  }
}

TEST(ProxyReply, ExistingSchemeKeepsOnlyTheNewReplysLastOffer) {
  std::unique_ptr<TMIdAuthentication> auth = std::make_unique<TMIdBasicAuthentication>();
  auth->AuthParams() = {"Basic old"};
  TProxyReply r;
  bool keep = false;
  ParseProxyReply("HTTP/1.1 407 P\r\nProxy-Authenticate: NTLM abc\r\n\r\n", r, auth, keep);
  ASSERT_NE(dynamic_cast<TMIdBasicAuthentication*>(auth.get()), nullptr);
  EXPECT_EQ(auth->AuthParams(), std::vector<std::string>{"NTLM abc"});
}

}  // namespace
}  // namespace vantrel
