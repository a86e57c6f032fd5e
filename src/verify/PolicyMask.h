// The two-layer masking of the legacy policy list and answer: the text XORed with a Base64 salt,
// prefixed by the salt and its length, Base64-coded, XORed with a 15-character key and
// Base64-coded again. Pure: the salt is a parameter.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// The keys chosen when the library was built.
std::string_view ClvPolicyKey();
std::string_view ClvAnswerKey();

// Byte j of prmText XORed with byte (j mod length) of prmWith; unchanged when prmWith is empty.
std::string XorRepeat(std::string_view prmText, std::string_view prmWith);

// prmSalt is Base64 text of at most 99 characters.
std::string MaskText(std::string_view prmText, std::string_view prmSalt, std::string_view prmKey);
// False (prmText emptied) when prmMasked is not a masked text under this key.
bool UnmaskText(std::string_view prmMasked, std::string_view prmKey, std::string& prmText);

// A fresh salt: 8 to 15 random characters with codes 48 to 207, as Base64 text.
std::string DrawSalt();

}  // namespace vantrel
