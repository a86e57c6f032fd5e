// The name=value lists that desktop records carry: the "Params" attribute and provider parameters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

using TStringList = std::vector<std::string>;

// The room, in bytes, that the lists built from one reply may take (desktop parameters, provider
// parameters, farm servers), each entry counted with its own overhead: a reply of commas, or one
// list shared by thousands of desktops, cannot multiply the reply's size.
constexpr size_t kMaxReplyListBytes = 16u << 20;

// Takes the room prmEntry needs from prmBytesLeft. False when it does not fit; no room is left
// then, so a list that was cut stays cut and prmBytesLeft 0 tells that it happened.
bool TakeListRoom(size_t& prmBytesLeft, std::string_view prmEntry);

// Splits at "," and, outside quotes, at blanks and control characters. An entry that begins with
// '"' runs to the closing quote ("" inside stands for one quote). Blanks around the separators
// are skipped; two commas in a row give an empty entry. The list ends before the first entry
// that does not fit in prmBytesLeft.
TStringList SplitParamList(std::string_view prmText, size_t& prmBytesLeft);
TStringList SplitParamList(std::string_view prmText);

// The value of the first entry whose name (the text before the first "=") equals prmName without
// regard to ASCII case; empty when there is none.
std::string ParamValue(const TStringList& prmList, std::string_view prmName);

}  // namespace vantrel
