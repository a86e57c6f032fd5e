#include "catalogue/ParamList.h"

#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

bool IsBlank(char c) {
  return c > 0 && c <= ' ';
}

void SkipBlanks(std::string_view s, size_t& i) {
  while (i < s.size() && IsBlank(s[i])) ++i;
}

// From the opening quote at i; leaves i after the closing quote (or at the end when unclosed).
std::string ReadQuoted(std::string_view s, size_t& i) {
  std::string out;
  ++i;
  while (i < s.size()) {
    if (s[i] == '"') {
      if (i + 1 < s.size() && s[i + 1] == '"') {
        out += '"';
        i += 2;
        continue;
      }
      ++i;
      break;
    }
    out += s[i++];
  }
  return out;
}

std::string ReadPlain(std::string_view s, size_t& i) {
  size_t start = i;
  while (i < s.size() && s[i] != ',' && !IsBlank(s[i])) ++i;
  return std::string(s.substr(start, i - start));
}

}  // namespace

bool TakeListRoom(size_t& prmBytesLeft, std::string_view prmEntry) {
  const size_t need = sizeof(std::string) + prmEntry.size();
  if (need > prmBytesLeft) {
    prmBytesLeft = 0;
    return false;
  }
  prmBytesLeft -= need;
  return true;
}

TStringList SplitParamList(std::string_view prmText, size_t& prmBytesLeft) {
  TStringList list;
  auto add = [&](std::string prmEntry) {
    if (!TakeListRoom(prmBytesLeft, prmEntry)) return false;
    list.push_back(std::move(prmEntry));
    return true;
  };
  size_t i = 0;
  SkipBlanks(prmText, i);
  while (i < prmText.size()) {
    if (!add(prmText[i] == '"' ? ReadQuoted(prmText, i) : ReadPlain(prmText, i))) break;
    SkipBlanks(prmText, i);
    if (i < prmText.size() && prmText[i] == ',') {
      ++i;
      SkipBlanks(prmText, i);
      // A trailing comma still separates: it closes an empty last entry.
      if (i == prmText.size()) add({});
    }
  }
  return list;
}

TStringList SplitParamList(std::string_view prmText) {
  size_t unbounded = static_cast<size_t>(-1);
  return SplitParamList(prmText, unbounded);
}

std::string ParamValue(const TStringList& prmList, std::string_view prmName) {
  for (const std::string& entry : prmList) {
    size_t eq = entry.find('=');
    if (eq != std::string::npos && SameText(std::string_view(entry).substr(0, eq), prmName))
      return entry.substr(eq + 1);
  }
  return {};
}

}  // namespace vantrel
