#include "ntlmlib/NtlmUserFile.h"

#include <fstream>
#include <optional>

#include "ntlmlib/NtlmCrypto.h"

namespace vantrel::ntlm {
namespace {

bool SameAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

std::optional<TUserCredentials> ParseLine(std::string prmLine) {
  if (!prmLine.empty() && prmLine.back() == '\r') prmLine.pop_back();
  if (prmLine.empty() || prmLine[0] == '#') return std::nullopt;
  size_t first = prmLine.find(':');
  size_t second = first == std::string::npos ? first : prmLine.find(':', first + 1);
  if (second == std::string::npos) return std::nullopt;
  return TUserCredentials{prmLine.substr(0, first), prmLine.substr(first + 1, second - first - 1),
                          prmLine.substr(second + 1)};
}

}  // namespace

bool ReadUserFileCredentials(const std::string& prmPath, const std::string& prmLoginName,
                             TUserCredentials& prmOut) {
  std::ifstream in(prmPath);
  std::optional<TUserCredentials> first;
  for (std::string line; std::getline(in, line);) {
    auto entry = ParseLine(std::move(line));
    if (!entry || entry->User.empty()) continue;
    if (SameAscii(entry->User, prmLoginName)) {
      prmOut = std::move(*entry);
      return true;
    }
    if (!first) first = std::move(entry);
  }
  if (!first) return false;
  prmOut = std::move(*first);
  return true;
}

}  // namespace vantrel::ntlm
