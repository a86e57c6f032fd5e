#include "platform/KnownGateways.h"

#include <openssl/evp.h>

#include <cctype>
#include <cerrno>
#include <sstream>
#include <string_view>

#include "diag/DebugLog.h"
#include "platform/Settings.h"
#include "platform/UserStore.h"

namespace vantrel {

namespace {

constexpr size_t kDigestLen = 32;
// A pin file is a few lines per gateway; anything much larger is not one.
constexpr size_t kMaxFileSize = 1 << 20;
constexpr size_t kMaxHostLen = 255;

bool HexDigits(const std::string& prmText, std::string& prmOut) {
  prmOut.clear();
  for (char c : prmText) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    prmOut.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  return prmOut.size() == kDigestLen * 2;
}

// Names and address literals only: a field must not hold a blank, a line end or a NUL.
bool UsableHost(const std::string& prmHost) {
  if (prmHost.empty() || prmHost.size() > kMaxHostLen) return false;
  for (char c : prmHost)
    if (!std::isalnum(static_cast<unsigned char>(c)) &&
        std::string_view(".-_:[]").find(c) == std::string_view::npos)
      return false;
  return true;
}

std::vector<std::string> Fields(const std::string& prmLine) {
  std::istringstream in(prmLine);
  std::vector<std::string> out;
  for (std::string f; in >> f;) out.push_back(f);
  return out;
}

bool ParseLine(const std::string& prmLine, TPinnedGateway& prmOut) {
  std::vector<std::string> f = Fields(prmLine);
  if (f.size() != 4 || !UsableHost(f[0])) return false;
  char* end = nullptr;
  errno = 0;
  long port = std::strtol(f[1].c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || port < 1 || port > 65535) return false;
  std::string fp = NormalizeFingerprint(f[2]);
  if (fp.empty() || fp != f[2]) return false;
  prmOut = {f[0], static_cast<int>(port), fp, f[3]};
  return true;
}

std::string IsoTime(std::time_t prmWhen) {
  std::tm tm{};
  gmtime_r(&prmWhen, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

}  // namespace

std::string NormalizeFingerprint(const std::string& prmText) {
  std::string hex;
  if (!HexDigits(prmText, hex)) return {};
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 2) {
    if (i > 0) out.push_back(':');
    out.append(hex, i, 2);
  }
  return out;
}

std::string CurlKeyPin(const std::string& prmFingerprint) {
  std::string hex;
  if (!HexDigits(prmFingerprint, hex)) return {};
  unsigned char raw[kDigestLen];
  for (size_t i = 0; i < kDigestLen; ++i)
    raw[i] = static_cast<unsigned char>(std::stoi(hex.substr(i * 2, 2), nullptr, 16));
  unsigned char b64[4 * ((kDigestLen + 2) / 3) + 1];
  int n = EVP_EncodeBlock(b64, raw, kDigestLen);
  return "sha256//" + std::string(reinterpret_cast<char*>(b64), static_cast<size_t>(n));
}

std::vector<std::string> AdminGatewayPins() {
  std::vector<std::string> out;
  std::string text = ReadSettingOrEnv("GatewayPin", "VANTREL_GATEWAY_PIN").value_or("");
  for (char& c : text)
    if (c == ',') c = ' ';
  for (const std::string& f : Fields(text)) {
    std::string fp = NormalizeFingerprint(f);
    if (fp.empty())
      WriteDebugLog("GatewayPin - not a SHA-256 fingerprint, ignored: " + f);
    else
      out.push_back(fp);
  }
  return out;
}

std::string TrustCAFile() {
  return ReadSettingOrEnv("TrustCAFile", "VANTREL_CA_FILE").value_or("");
}

std::string TrustCAPath() {
  return ReadSettingOrEnv("TrustCAPath", "VANTREL_CA_PATH").value_or("");
}

TKnownGateways::TKnownGateways(std::string prmPath)
    : m_Path(prmPath.empty() ? ConfigDir() + "/known_gateways" : std::move(prmPath)) {}

bool TKnownGateways::Load(std::vector<TPinnedGateway>& prmOut, std::string& prmError) const {
  prmOut.clear();
  auto line = [&](const std::string& prmLine) {
    TPinnedGateway pin;
    if (!ParseLine(prmLine, pin)) return false;
    prmOut.push_back(std::move(pin));
    return true;
  };
  if (ReadUserStoreLines(m_Path, kMaxFileSize, line, prmError)) return true;
  prmOut.clear();
  return false;
}

const TPinnedGateway* TKnownGateways::Find(const std::vector<TPinnedGateway>& prmPins,
                                           const std::string& prmHost, int prmPort) {
  for (const TPinnedGateway& p : prmPins)
    if (p.Port == prmPort && p.Host == prmHost) return &p;
  return nullptr;
}

bool TKnownGateways::Remember(const std::string& prmHost, int prmPort,
                              const std::string& prmFingerprint, std::time_t prmWhen,
                              std::string& prmError) const {
  std::string fp = NormalizeFingerprint(prmFingerprint);
  if (!UsableHost(prmHost) || prmPort < 1 || prmPort > 65535 || fp.empty()) {
    prmError = "the gateway's name cannot be remembered";
    return false;
  }
  std::vector<TPinnedGateway> pins;
  if (!Load(pins, prmError)) return false;
  std::string content = "# host port sha256-of-public-key accepted-at\n";
  for (const TPinnedGateway& p : pins)
    if (p.Host != prmHost || p.Port != prmPort)
      content +=
          p.Host + " " + std::to_string(p.Port) + " " + p.Fingerprint + " " + p.AcceptedAt + "\n";
  content += prmHost + " " + std::to_string(prmPort) + " " + fp + " " + IsoTime(prmWhen) + "\n";
  return WriteUserStore(m_Path, content, prmError);
}

}  // namespace vantrel
