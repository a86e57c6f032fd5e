// The start parameters that arrive from outside the user's own command line (a session file, a
// vantrel: URL, a portal's open request). They may hold the portal's session cookie, so they are
// read strictly: only the names the control reads, each once, no control characters in a value,
// and no value ever appears in a message.
#pragma once

#include <set>
#include <string>

#include "control/PropertyBag.h"

namespace vantrel::host {

// One source's parameters, checked as they are added to a bag.
class TStartParamChecker {
 public:
  explicit TStartParamChecker(TMapPropertyBag& prmBag) : m_Bag(prmBag) {}

  // Raises EBaseException naming prmPlace and the parameter (never its value) when prmName is
  // empty or unknown, was given before, or prmValue holds a control character.
  void Add(const std::string& prmName, const std::string& prmValue, const std::string& prmPlace);

 private:
  TMapPropertyBag& m_Bag;
  std::set<std::string> m_Seen;
};

}  // namespace vantrel::host
