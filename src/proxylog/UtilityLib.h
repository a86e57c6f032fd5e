// System utilities of the proxy support library in their Linux form: the operating-system code,
// the temporary folder of the user the library works for, and UTF-8 / UTF-16 conversions for its
// C interface.
#pragma once

#include <string>
#include <string_view>

namespace vantrel::proxylog {

// The operating-system code table names versions of another platform only, so Linux is
// "anything else": -1. Callers compare against 3 and 4 (the "Low" folder and the integrity
// class), which this keeps off.
int GetOSCode();

// The process's own temporary folder ($TMPDIR or /tmp) with a trailing "/". A Linux process runs
// as its user, so there is no console user to borrow a folder from.
std::string GetActiveUserTempDir();

// Invalid input (a lone surrogate, a malformed UTF-8 sequence) becomes U+FFFD, never a failure.
std::u16string Utf8ToUtf16(std::string_view prmText);
std::string Utf16ToUtf8(std::u16string_view prmText);

// Creates prmDir and its parents; the last component gets mode 0700 and must end up a real
// folder owned by this user (not a link, not someone else's folder in a shared /tmp).
bool MakePrivateDir(const std::string& prmDir);

}  // namespace vantrel::proxylog
