// File-name tests shared by the session's parts.
#pragma once

#include <string>
#include <string_view>

#include "diag/TextCodecs.h"

namespace vantrel {

// True when prmName ends with prmEnd, letters compared without case.
inline bool EndsWithText(std::string_view prmName, std::string_view prmEnd) {
  return prmName.size() >= prmEnd.size() &&
         SameText(prmName.substr(prmName.size() - prmEnd.size()), prmEnd);
}

}  // namespace vantrel
