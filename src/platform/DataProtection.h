// Per-user data protection (protect/unprotect of small secrets): AES-256-GCM
// with a key kept in ConfigDir()/protect.key (32 random bytes, mode 0600, created on first use).
// Only the same user (who can read the key file) can unprotect a blob; any change to a blob makes
// unprotecting fail instead of yielding altered data.
//
// Blob layout: magic "VDPB", version 1, 12-byte nonce, ciphertext, 16-byte tag. The ciphertext
// holds the description (2-byte big-endian length, then its bytes) followed by the data; magic
// and version are authenticated too.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Where the key lives: ConfigDir() + "/protect.key".
std::string DataProtectionKeyPath();

// False (and prmBlob empty) when the key cannot be read or created or encryption fails.
// prmDescription longer than 65535 bytes fails.
bool ProtectData(std::string_view prmData, std::string_view prmDescription, std::string& prmBlob);

// False for a blob that is malformed, was made with another key, or was changed; prmData and
// prmDescription (may be null) are then left empty.
bool UnprotectData(std::string_view prmBlob, std::string& prmData,
                   std::string* prmDescription = nullptr);

}  // namespace vantrel
