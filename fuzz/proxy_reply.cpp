// Both readers of a proxy's reply header on arbitrary text: nothing crashes, the status is one of
// the four known values, and a scheme object exists only for an offered Basic or NTLM scheme.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "proxy/MIdAuthentication.h"
#include "proxy/ProxyReply.h"

namespace {
bool KnownStatus(int prmStatus) {
  return prmStatus == 0 || prmStatus == 200 || prmStatus == 401 || prmStatus == 407;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  bool keepAlive = false;
  vantrel::TProxyReply1 r1;
  vantrel::ParseProxyReply1(in, r1, keepAlive);
  if (!KnownStatus(r1.Status)) __builtin_trap();
  if (r1.Kind != vantrel::pakNTLMChallenge && !r1.Challenge.empty()) __builtin_trap();
  vantrel::TProxyReply r;
  std::unique_ptr<vantrel::TMIdAuthentication> auth;
  vantrel::ParseProxyReply(in, r, auth, keepAlive);
  if (!KnownStatus(r.Status)) __builtin_trap();
  if (auth && in.find("Proxy-Authenticate: ") == std::string_view::npos) __builtin_trap();
  if (auth) {
    auth->Next();
    if (auth->Username().size() > in.size()) __builtin_trap();
  }
  return 0;
}
