// The CONNECT exchange's wire text, without sockets: the request templates and the two readers of
// a proxy's reply header (one per CONNECT procedure). Any thread; no state beyond the arguments.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace vantrel {

class TMIdAuthentication;

enum TProxyAuthKind { pakNone = 0, pakBasic = 1, pakNTLM = 2, pakNTLMChallenge = 3 };

// The most a reply header may hold; a longer one is dropped whole.
constexpr size_t kMaxProxyHeader = 64 * 1024;

// The CONNECT request for prmDestHost:prmDestPort; with prmAuth (the whole Proxy-Authorization
// value, scheme name included) the request carries that header.
std::string ProxyConnectRequest(const std::string& prmDestHost, int prmDestPort,
                                const std::string& prmAuth = {});

// What one reply said. KeepAlive carries over from the previous reply of the same call: the
// caller keeps one flag per call and the readers change it only on a Proxy-Connection line.
struct TProxyReply {
  int Status = 0;      // 200, 401 or 407 from a well-formed status line; else 0
  int BodyLength = 0;  // body bytes still to come after the text parsed
};

struct TProxyReply1 : TProxyReply {
  TProxyAuthKind Kind = pakNone;
  std::string Challenge;
};

// The status line of a complete reply header: "HTTP/<digit>.<digit> <three digits>", then a blank
// (the reason phrase follows) or the line's CR LF. Anything else, or a header that never reached
// its blank line, is not Valid: the proxy's answer cannot be trusted as a status.
struct TProxyStatusLine {
  bool Valid = false;
  int Code = 0;
  std::string_view Reason;
};
TProxyStatusLine ReadStatusLine(std::string_view prmReply);

// The first protocol's reader: the last Basic or NTLM offer of the reply wins.
void ParseProxyReply1(std::string_view prmReply, TProxyReply1& prmOut, bool& prmKeepAlive);

// The legacy reader: the first offered scheme creates prmAuth (when none exists yet); the scheme
// object's AuthParams then hold the last Proxy-Authenticate line of the reply.
void ParseProxyReply(std::string_view prmReply, TProxyReply& prmOut,
                     std::unique_ptr<TMIdAuthentication>& prmAuth, bool& prmKeepAlive);

}  // namespace vantrel
