#include "catalogue/OstraQuery.h"

#include "diag/TextCodecs.h"

namespace vantrel {

TOstraQuery::TOstraQuery(std::string_view prmServer, std::string_view prmPath) {
  m_URL.append("http://").append(prmServer).append(prmPath);
}

TOstraQuery& TOstraQuery::Add(std::string_view prmName, std::string_view prmValue) {
  m_URL.append(m_First ? "?" : "&").append(prmName).append("=").append(prmValue);
  m_First = false;
  return *this;
}

TOstraQuery& TOstraQuery::Add(std::string_view prmName, int prmValue) {
  return Add(prmName, std::to_string(prmValue));
}

TOstraQuery& TOstraQuery::AddEncoded(std::string_view prmName, std::string_view prmValue) {
  return Add(prmName, FormURLEncode(ToAnsi(prmValue)));
}

}  // namespace vantrel
