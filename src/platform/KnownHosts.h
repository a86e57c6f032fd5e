// The RDP client's store of servers it has met (FreeRDP's known_hosts2): one line per server,
// "host port fingerprint ...". The session forgets the loopback server there when it ends, so the
// next session's listener is not mistaken for a changed server.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// $XDG_CONFIG_HOME/freerdp/known_hosts2, or ~/.config/freerdp/known_hosts2; empty when neither
// variable is set.
std::string FreeRdpKnownHostsPath();

// prmContent without the lines whose first field is exactly prmHost; every other byte, line ends
// and a missing final line end included, is kept.
std::string WithoutKnownHost(std::string_view prmContent, std::string_view prmHost);

// Rewrites the file without prmHost's lines (replacing it atomically, same mode). True when the
// file is missing, holds no such line, or was rewritten; false on an I/O failure.
bool RemoveKnownHost(const std::string& prmPath, const std::string& prmHost);

// Replaces prmPath with prmContent (file mode prmMode) through a temporary file and a rename, so
// readers see the old or the new file, never a cut one. False on an I/O failure.
bool ReplaceFileAtomically(const std::string& prmPath, std::string_view prmContent,
                           unsigned prmMode);

}  // namespace vantrel
