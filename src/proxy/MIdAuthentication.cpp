#include "proxy/MIdAuthentication.h"

#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

// Each UTF-8 character's code point cut to its low 8 bits; a malformed byte stands for itself.
std::string LowBytes(std::string_view prmUtf8) {
  std::string out;
  for (size_t i = 0; i < prmUtf8.size();) {
    const auto lead = static_cast<unsigned char>(prmUtf8[i]);
    const size_t len = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    if (len == 1 || i + len > prmUtf8.size()) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    uint32_t cp = lead & (0x3F >> (len - 1));
    for (size_t k = 1; k < len; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(prmUtf8[i + k]) & 0x3F);
    out += static_cast<char>(cp & 0xFF);
    i += len;
  }
  return out;
}

}  // namespace

void TMIdAuthentication::Reset() {
  SetParam("Username", {});
  SetParam("Password", {});
  CurrentStep = 0;
}

std::string TMIdAuthentication::Param(std::string_view prmName) const {
  for (const auto& [name, value] : m_Params)
    if (SameText(name, prmName)) return value;
  return {};
}

void TMIdAuthentication::SetParam(std::string_view prmName, const std::string& prmValue) {
  for (auto& [name, value] : m_Params)
    if (SameText(name, prmName)) {
      value = prmValue;
      return;
    }
  m_Params.emplace_back(std::string(prmName), prmValue);
}

std::string TMIdAuthentication::OfferAfterScheme(std::string_view prmScheme) const {
  for (const std::string& offer : m_AuthParams) {
    if (offer.compare(0, prmScheme.size(), prmScheme) != 0) continue;
    const size_t blank = offer.find(' ');
    return blank == std::string::npos ? std::string() : offer.substr(blank + 1);
  }
  return {};
}

TIdAuthWhatsNext TMIdBasicAuthentication::DecideNext() {
  const std::string offer = OfferAfterScheme("Basic");
  std::string_view rest = offer;
  while (!rest.empty()) {
    const size_t sep = rest.find(", ");
    const std::string_view pair = rest.substr(0, sep);
    const size_t eq = pair.find('=');
    if (eq != std::string_view::npos)
      SetParam(pair.substr(0, eq), std::string(pair.substr(eq + 1)));
    rest = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 2);
  }
  const std::string realm = Param("realm");
  FRealm = realm.size() >= 2 ? realm.substr(1, realm.size() - 2) : std::string();
  if (CurrentStep != 0) return wnFail;
  CurrentStep = 1;
  return Username().empty() ? wnAskTheProgram : wnDoRequest;
}

std::string TMIdBasicAuthentication::Authentication() {
  return BasicAuthValue(Username(), Password());
}

std::string BasicAuthValue(const std::string& prmUser, const std::string& prmPassword) {
  return "Basic " + Base64Encode(LowBytes(prmUser + ":" + prmPassword));
}

std::string BasicAuthValue1(const std::string& prmUser, const std::string& prmPassword) {
  return "Basic " + Base64Encode(ToAnsi(prmUser + ":" + prmPassword));
}

}  // namespace vantrel
