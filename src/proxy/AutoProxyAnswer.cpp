#include "diag/TextCodecs.h"
#include "proxy/AutoProxy.h"

namespace vantrel {

bool ParsePacAnswer(const std::string& prmText, TAutoProxyAnswer& prmAnswer) {
  prmAnswer = TAutoProxyAnswer{};
  size_t pos = 0;
  while (pos <= prmText.size()) {
    size_t end = prmText.find(';', pos);
    if (end == std::string::npos) end = prmText.size();
    std::string item = Trim(prmText.substr(pos, end - pos));
    pos = end + 1;
    size_t blank = item.find_first_of(" \t");
    std::string kind = UpperCase(item.substr(0, blank));
    std::string where = blank == std::string::npos ? std::string() : Trim(item.substr(blank));
    if (kind == "DIRECT" && where.empty()) {
      prmAnswer.Direct = prmAnswer.ProxyText.empty();
      return true;
    }
    if ((kind == "PROXY" || kind == "HTTP") && !where.empty() &&
        where.find_first_of(" \t") == std::string::npos)
      prmAnswer.ProxyText += (prmAnswer.ProxyText.empty() ? "" : ";") + where;
  }
  return !prmAnswer.ProxyText.empty();
}

}  // namespace vantrel
