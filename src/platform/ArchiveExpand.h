// Expansion of a downloaded client package (a cabinet or any archive) with libarchive.
#pragma once

#include <string>

namespace vantrel {

// Writes every regular file of prmArchive into prmDestDir under its own base name (folders in
// the archive are not recreated, so no entry can land outside prmDestDir). False with
// prmError set when the archive cannot be read or a file cannot be written.
bool ExpandArchive(const std::string& prmArchive, const std::string& prmDestDir,
                   std::string& prmError);

}  // namespace vantrel
