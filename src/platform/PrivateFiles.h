// The per-user private folder of the files handed to client programs (connection and settings
// files that may carry credentials or tickets): a folder only this user can enter, files only
// this user can read, never written through a link.
#pragma once

#include <string>

namespace vantrel {

// TempDir() + "/Vantrel".
std::string PrivateTempFolder();
// Makes sure the folder exists as a directory of this user that nobody else can enter (0700).
// False when it cannot be made so (another user's folder, a link, ...).
bool EnsurePrivateFolder(const std::string& prmFolder);
// prmFolder + "/" + prmName + prmExtension, where characters of the name that would leave the
// folder become "_".
std::string PrivateFilePath(const std::string& prmFolder, const std::string& prmName,
                            const std::string& prmExtension);
// Creates or overwrites prmPath with mode 0600 (never through a link). False with errno set.
bool WritePrivateFile(const std::string& prmPath, const std::string& prmData);

}  // namespace vantrel
