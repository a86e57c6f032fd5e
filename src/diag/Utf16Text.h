// Program text (UTF-8) to and from UTF-16, the text of the companion libraries' C interfaces.
// Any thread; no state.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Invalid input (a lone surrogate, a malformed or overlong UTF-8 sequence, each byte of it)
// becomes U+FFFD, never a failure.
std::u16string Utf8ToUtf16(std::string_view prmText);
std::string Utf16ToUtf8(std::u16string_view prmText);
// Appends the UTF-8 bytes of one code point (at most U+10FFFF; surrogates are the caller's to
// refuse).
void AppendUtf8(std::string& prmOut, char32_t prmCp);

}  // namespace vantrel
