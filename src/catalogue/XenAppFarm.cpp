#include "catalogue/XenAppFarm.h"

#include <algorithm>
#include <string_view>

#include "catalogue/ParamList.h"
#include "diag/TextCodecs.h"
#include "diag/Xml.h"

namespace vantrel {

TXenAppFarm::TXenAppFarm(const TXmlNode& prmFarmNode, size_t* prmListBytesLeft) {
  if (!TryStrToInt(prmFarmNode.Text(), m_ID)) m_ID = -1;
  m_Name = prmFarmNode.Attr("FarmName");
  m_Folder = prmFarmNode.Attr("Folder");
  std::string servers = prmFarmNode.Attr("Servers");
  if (servers.empty()) return;
  servers.pop_back();
  size_t ownRoom = kMaxReplyListBytes;
  size_t& room = prmListBytesLeft != nullptr ? *prmListBytesLeft : ownRoom;
  // A server without a name, or with one no host has, could only fail when it is tried; a text
  // of commas must not become millions of them.
  for (size_t start = 0; start <= servers.size() && m_Servers.size() < kMaxFarmServers;) {
    size_t comma = std::min(servers.find(',', start), servers.size());
    std::string_view name = std::string_view(servers).substr(start, comma - start);
    start = comma + 1;
    if (name.empty() || name.size() > kMaxFarmServerName) continue;
    if (!TakeListRoom(room, name)) break;
    m_Servers.emplace_back(name);
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
