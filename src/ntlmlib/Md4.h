// MD4 (RFC 1320), needed only for the NT password hash. OpenSSL 3 keeps MD4 in its legacy
// provider, which a distribution may not ship, so the library carries its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vantrel::ntlm {

std::array<uint8_t, 16> Md4(const uint8_t* prmData, size_t prmLen);

}  // namespace vantrel::ntlm
