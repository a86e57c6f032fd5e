#include "diag/Exceptions.h"

#include <cstdio>

namespace vantrel {

std::string FormatMsg(std::string_view prmFmt, const std::vector<TFmtArg>& prmArgs) {
  std::string out;
  out.reserve(prmFmt.size() + 16);
  size_t next = 0;
  for (size_t i = 0; i < prmFmt.size(); ++i) {
    char c = prmFmt[i];
    if (c != '%' || i + 1 >= prmFmt.size()) {
      out += c;
      continue;
    }
    char kind = prmFmt[i + 1];
    if (kind == '%') {
      out += '%';
      ++i;
      continue;
    }
    if ((kind != 'd' && kind != 'x' && kind != 's') || next >= prmArgs.size()) {
      out += c;
      continue;
    }
    const TFmtArg& arg = prmArgs[next];
    bool wantText = kind == 's';
    if (arg.IsText != wantText) {
      out += c;
      continue;
    }
    ++next;
    ++i;
    char buf[32];
    if (kind == 'd') {
      std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(arg.Int));
      out += buf;
    } else if (kind == 'x') {
      std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(static_cast<uint32_t>(arg.Int)));
      out += buf;
    } else {
      out += arg.Text;
    }
  }
  return out;
}

}  // namespace vantrel
