// System utilities of the proxy support library in their Linux form: the operating-system code,
// the temporary folder of the user the library works for, the UTF-8 / UTF-16 conversions for its
// C interface, and the ownership checks of its store.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "diag/Utf16Text.h"

namespace vantrel::proxylog {

// The operating-system code table names versions of another platform only, so Linux is
// "anything else": -1. Callers compare against 3 and 4 (the "Low" folder and the integrity
// class), which this keeps off.
int GetOSCode();

// The process's own temporary folder ($TMPDIR or /tmp) with a trailing "/". A Linux process runs
// as its user, so there is no console user to borrow a folder from.
std::string GetActiveUserTempDir();

// The conversions for its C interface.
using vantrel::Utf16ToUtf8;
using vantrel::Utf8ToUtf16;

// What a store's folder or file (prmSt from lstat or fstat) is to this user: Foreign when it is
// not of prmType (S_IFDIR or S_IFREG; a link is neither) or belongs to someone else, Loose when
// it is ours but open to the group or others, Private otherwise. Writers close a Loose one;
// readers take nothing but a Private one, since anyone may have put its contents there.
enum class TOwnership { Private, Loose, Foreign };
TOwnership CheckOwnership(const struct stat& prmSt, mode_t prmType);
// For writers: true when the opened prmFd is this user's own of prmType, a Loose one after its
// mode was set to prmMode.
bool KeepPrivate(int prmFd, mode_t prmType, mode_t prmMode);

// Creates prmDir and its parents; the last component gets mode 0700 and must end up a real
// folder owned by this user (not a link, not someone else's folder in a shared /tmp).
bool MakePrivateDir(const std::string& prmDir);

}  // namespace vantrel::proxylog
