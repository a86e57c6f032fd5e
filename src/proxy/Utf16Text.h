// UTF-8 program text to and from the UTF-16 texts of the proxy support library's C exports.
// Malformed input becomes U+FFFD; nothing raises.
#pragma once

#include <cstddef>
#include <string>

namespace vantrel {

std::u16string ToUtf16(const std::string& prmUtf8);
// The buffer's text up to its NUL, or all prmMax units when the library wrote no NUL.
std::string FromUtf16(const char16_t* prmText, size_t prmMax);

}  // namespace vantrel
