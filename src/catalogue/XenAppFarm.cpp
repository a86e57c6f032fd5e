#include "catalogue/XenAppFarm.h"

#include "diag/TextCodecs.h"
#include "diag/Xml.h"

namespace vantrel {

TXenAppFarm::TXenAppFarm(const TXmlNode& prmFarmNode) {
  if (!TryStrToInt(prmFarmNode.Text(), m_ID)) m_ID = -1;
  m_Name = prmFarmNode.Attr("FarmName");
  m_Folder = prmFarmNode.Attr("Folder");
  std::string servers = prmFarmNode.Attr("Servers");
  // An empty text names no server at all rather than one without a name.
  if (servers.empty()) return;
  servers.pop_back();
  size_t start = 0;
  for (;;) {
    size_t comma = servers.find(',', start);
    m_Servers.push_back(servers.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
}

void TXenAppFarm::SetCreds(const std::string& prmUsername, const std::string& prmPwd,
                           const std::string& prmDomain) {
  m_Username = prmUsername;
  m_Pwd = prmPwd;
  m_Domain = prmDomain;
}

void TXenAppFarm::GetCreds(std::string& prmUsername, std::string& prmPwd,
                           std::string& prmDomain) const {
  prmUsername = m_Username;
  prmPwd = m_Pwd;
  prmDomain = m_Domain;
}

std::string TXenApp::GetID() const {
  return "c" + std::to_string(m_Farm != nullptr ? m_Farm->GetID() : -1) + m_SeqNo;
}

}  // namespace vantrel
