// The XOR masking that hides the desktop credentials the portal hands over in "SessInfo". The
// same operation masks and unmasks; the mask must equal the portal's.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Byte j of prmData is XORed with byte (j mod 15) of prmMask; prmMask must hold at least 15
// bytes (an empty result otherwise, so a misconfigured mask never reads past its end).
std::string MaskUnmaskStr(std::string_view prmData, std::string_view prmMask);
// With the mask chosen when the library was built.
std::string MaskUnmaskStr(std::string_view prmData);

}  // namespace vantrel
