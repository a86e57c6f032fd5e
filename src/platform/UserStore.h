// The per-user stores in the configuration folder (remembered gateways, allowed portals): small
// text files that decide what is trusted, so one is read only when nobody but the user can have
// written it, and written whole, so a reader never sees half of one.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace vantrel {

// Reads prmPath into prmContent: true with an empty content when the file is missing. False with
// the reason (naming the file) when it is a link, not a regular file, not the user's own or
// writable by others, lies in a folder that is not the user's own or is writable by others, is
// larger than prmMaxBytes, or cannot be read.
bool ReadUserStore(const std::string& prmPath, size_t prmMaxBytes, std::string& prmContent,
                   std::string& prmError);

// Reads the store as ReadUserStore does and hands each line that is neither blank nor a '#'
// comment to prmLine. A line prmLine refuses makes the whole store corrupt: false, with the file
// and the line's number in prmError.
bool ReadUserStoreLines(const std::string& prmPath, size_t prmMaxBytes,
                        const std::function<bool(const std::string&)>& prmLine,
                        std::string& prmError);

// Replaces prmPath with prmContent, mode 0600, creating its folder (0700) when missing. False
// with the reason.
bool WriteUserStore(const std::string& prmPath, std::string_view prmContent, std::string& prmError);

}  // namespace vantrel
