// The machine's identifier: the systemd machine id, which plays the machine GUID's part.
#pragma once

#include <string>
#include <vector>

namespace vantrel {

// The first of prmPaths that holds an identifier (its first line, trimmed; at most 128
// characters are read). Empty when none does.
std::string ReadMachineId(const std::vector<std::string>& prmPaths = {"/etc/machine-id",
                                                                      "/var/lib/dbus/machine-id"});

}  // namespace vantrel
