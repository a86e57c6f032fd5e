// The browser's hand-over of a session: a downloaded session file (".vantrel", MIME type
// application/x-vantrel-session) or a "vantrel:" URL, both carrying the start parameters a
// portal page would give. They hold the portal's session cookie, so they are read strictly
// (StartParams.h).
//
// File: NAME=VALUE lines as in a --params file ('#' comments and empty lines skipped, names and
// values trimmed, CR LF allowed), at most kMaxSessionSource bytes, ending in ".vantrel". It must
// be the user's own regular file with one name (no symbolic or hard link); it is removed as soon
// as it was opened and found to be ours, whether its contents are accepted or not, so the cookie
// is read once and never left behind.
//
// URL: "vantrel:?NAME=VALUE&NAME=VALUE..." (the scheme in any case); names and values are
// percent-encoded as in RFC 3986 ("+" stays a plus), at most kMaxSessionSource characters.
#pragma once

#include <cstddef>
#include <string>

#include "control/PropertyBag.h"

namespace vantrel::host {

constexpr size_t kMaxSessionSource = 64 * 1024;
constexpr char kSessionFileExtension[] = ".vantrel";

// True when prmArg is a "vantrel:" URL rather than a file name.
bool IsSessionUrl(const std::string& prmArg);

// Adds the parameters of the URL to prmBag. Raises EBaseException with a message for the user.
void AddSessionUrl(const std::string& prmUrl, TMapPropertyBag& prmBag);

// Reads, removes and adds the session file's parameters to prmBag. Raises EBaseException with a
// message for the user; the file is left in place only when it is not the user's own file.
void AddSessionFile(const std::string& prmPath, TMapPropertyBag& prmBag);

// Either of the two, by the form of prmArg; a "file://" URL names a session file.
void AddSessionSource(const std::string& prmArg, TMapPropertyBag& prmBag);

}  // namespace vantrel::host
