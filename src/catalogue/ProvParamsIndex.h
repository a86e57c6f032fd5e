// The provider parameters of a desktop list: for a "Host" element, the first "ProvParams" in
// document order below the Host's parent whose "ID" is the desktop's. Each parent's subtree is
// read once and indexed by ID, so a list of N desktops costs linear time, not N searches of it.
#pragma once

#include <string>
#include <unordered_map>

#include "diag/Xml.h"

namespace vantrel {

class TProvParamsIndex {
 public:
  // The matching element, or none. The document must outlive the index.
  TXmlNode Find(const TXmlNode& prmHost, const std::string& prmID);

 private:
  std::unordered_map<const void*, std::unordered_map<std::string, TXmlNode>> m_ByParent;
};

}  // namespace vantrel
