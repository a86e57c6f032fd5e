#include "catalogue/ProvParamsIndex.h"

namespace vantrel {

TXmlNode TProvParamsIndex::Find(const TXmlNode& prmHost, const std::string& prmID) {
  TXmlNode parent = prmHost.Parent();
  if (!parent) return {};
  auto [it, fresh] = m_ByParent.try_emplace(parent.Key());
  if (fresh)
    for (const TXmlNode& prov : parent.FindAll("ProvParams"))
      it->second.try_emplace(prov.Attr("ID"), prov);  // the first of an ID wins
  auto found = it->second.find(prmID);
  return found == it->second.end() ? TXmlNode() : found->second;
}

}  // namespace vantrel
