// The name=value lists that desktop records carry: the "Params" attribute and provider parameters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

using TStringList = std::vector<std::string>;

// Splits at "," and, outside quotes, at blanks and control characters. An entry that begins with
// '"' runs to the closing quote ("" inside stands for one quote). Blanks around the separators
// are skipped; two commas in a row give an empty entry.
TStringList SplitParamList(std::string_view prmText);

// The value of the first entry whose name (the text before the first "=") equals prmName without
// regard to ASCII case; empty when there is none.
std::string ParamValue(const TStringList& prmList, std::string_view prmName);

}  // namespace vantrel
