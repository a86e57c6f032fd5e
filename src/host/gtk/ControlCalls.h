// The control's dispatch members as the window calls them: a failed call reads as empty or 0,
// so a member the control does not answer yet leaves its view empty.
#pragma once

#include <string>
#include <vector>

#include "control/VantrelTCSImpl.h"

namespace vantrel::host::gtk {

int32_t GetI4(TVantrelTCSX& prmControl, const std::string& prmName);
std::string GetText(TVantrelTCSX& prmControl, const std::string& prmName);
void Put(TVantrelTCSX& prmControl, const std::string& prmName, int32_t prmValue);
// A method; its out values, or nothing when it failed.
std::vector<Variant> Call(TVantrelTCSX& prmControl, const std::string& prmName,
                          const std::vector<Variant>& prmArgs = {});

}  // namespace vantrel::host::gtk
