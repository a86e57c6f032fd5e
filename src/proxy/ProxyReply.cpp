#include "proxy/ProxyReply.h"

#include <functional>

#include "diag/TextCodecs.h"
#include "proxy/MIdAuthentication.h"
#include "proxy/MIdAuthenticationNTLM.h"

namespace vantrel {

namespace {

constexpr std::string_view kRequestHead =
    "User-Agent: webclient\r\nProxy-Connection: Keep-Alive\r\nHost: ";
constexpr std::string_view kAuthenticate = "Proxy-Authenticate: ";
constexpr std::string_view kConnection = "Proxy-Connection: ";
constexpr std::string_view kLength = "Content-Length: ";

bool StartsWith(std::string_view prmText, std::string_view prmPrefix) {
  return prmText.substr(0, prmPrefix.size()) == prmPrefix;
}

bool IsDigit(char prmChar) {
  return prmChar >= '0' && prmChar <= '9';
}

// The line rules both readers share; prmOnOffer gets the text after "Proxy-Authenticate: ".
void WalkReply(std::string_view prmReply, TProxyReply& prmOut, bool& prmKeepAlive,
               const std::function<void(std::string_view)>& prmOnOffer) {
  const TProxyStatusLine status = ReadStatusLine(prmReply);
  // Only the codes the procedures act on; any other answer fails them alike.
  const bool known = status.Code == 200 || status.Code == 401 || status.Code == 407;
  prmOut.Status = status.Valid && known ? status.Code : 0;
  prmOut.BodyLength = 0;
  std::string_view rest = prmReply;
  while (!rest.empty()) {
    const size_t cr = rest.find('\r');
    const std::string_view line = rest.substr(0, cr);
    // A line goes together with the two characters after it (CR LF).
    rest = cr == std::string_view::npos ? std::string_view()
                                        : rest.substr(std::min(cr + 2, rest.size()));
    if (line.empty()) {
      if (prmOut.BodyLength <= 0) continue;
      prmOut.BodyLength -= static_cast<int>(std::min(rest.size(), kMaxProxyHeader));
      return;
    }
    if (StartsWith(line, kConnection)) {
      prmKeepAlive = UpperCase(line).find("KEEP-ALIVE") != std::string::npos;
    } else if (StartsWith(line, kLength)) {
      std::string_view value = line.substr(kLength.size());
      value = value.substr(0, value.find_first_of("\r\n"));
      if (!TryStrToInt(value, prmOut.BodyLength)) prmOut.BodyLength = 0;
    } else if (StartsWith(line, kAuthenticate)) {
      prmOnOffer(line.substr(kAuthenticate.size()));
    }
  }
}

}  // namespace

TProxyStatusLine ReadStatusLine(std::string_view prmReply) {
  TProxyStatusLine out;
  const size_t eol = prmReply.find_first_of("\r\n");
  if (eol == std::string_view::npos || prmReply.substr(eol, 2) != "\r\n") return out;
  if (prmReply.find("\r\n\r\n", eol) == std::string_view::npos) return out;
  const std::string_view line = prmReply.substr(0, eol);
  // "HTTP/d.d ddd" is 12 characters.
  if (line.size() < 12 || !StartsWith(line, "HTTP/") || !IsDigit(line[5]) || line[6] != '.' ||
      !IsDigit(line[7]) || line[8] != ' ' || !IsDigit(line[9]) || !IsDigit(line[10]) ||
      !IsDigit(line[11]))
    return out;
  if (line.size() > 12 && line[12] != ' ') return out;
  out.Valid = true;
  out.Code = (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
  out.Reason = line.size() > 13 ? line.substr(13) : std::string_view();
  return out;
}

std::string ProxyConnectRequest(const std::string& prmDestHost, int prmDestPort,
                                const std::string& prmAuth) {
  std::string req = "CONNECT " + prmDestHost + ":" + std::to_string(prmDestPort) + " HTTP/1.1\r\n";
  req.append(kRequestHead).append(prmDestHost).append("\r\nContent-Length: 0\r\n");
  if (!prmAuth.empty()) req.append("Proxy-Authorization: ").append(prmAuth).append("\r\n");
  return req + "\r\n";
}

void ParseProxyReply1(std::string_view prmReply, TProxyReply1& prmOut, bool& prmKeepAlive) {
  prmOut.Kind = pakNone;
  prmOut.Challenge.clear();
  WalkReply(prmReply, prmOut, prmKeepAlive, [&](std::string_view prmOffer) {
    if (StartsWith(prmOffer, "Basic")) {
      prmOut.Kind = pakBasic;
      prmOut.Challenge.clear();
    } else if (StartsWith(prmOffer, "NTLM")) {
      const bool challenge = StartsWith(prmOffer, "NTLM ");
      prmOut.Kind = challenge ? pakNTLMChallenge : pakNTLM;
      prmOut.Challenge = challenge ? std::string(prmOffer.substr(5)) : std::string();
    }
  });
}

void ParseProxyReply(std::string_view prmReply, TProxyReply& prmOut,
                     std::unique_ptr<TMIdAuthentication>& prmAuth, bool& prmKeepAlive) {
  WalkReply(prmReply, prmOut, prmKeepAlive, [&](std::string_view prmOffer) {
    if (!prmAuth && StartsWith(prmOffer, "Basic"))
      prmAuth = std::make_unique<TMIdBasicAuthentication>();
    else if (!prmAuth && StartsWith(prmOffer, "NTLM"))
      prmAuth = std::make_unique<TIdSSPINTLMAuthentication>();
    if (!prmAuth) return;
    prmAuth->AuthParams().assign(1, std::string(prmOffer));
  });
}

}  // namespace vantrel
