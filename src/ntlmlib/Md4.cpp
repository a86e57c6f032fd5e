#include "ntlmlib/Md4.h"

#include <cstring>
#include <vector>

namespace vantrel::ntlm {
namespace {

inline uint32_t Rotl(uint32_t x, int s) {
  return (x << s) | (x >> (32 - s));
}
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) {
  return (x & y) | (~x & z);
}
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) {
  return (x & y) | (x & z) | (y & z);
}
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) {
  return x ^ y ^ z;
}

void Block(uint32_t prmState[4], const uint8_t* prmBlock) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i)
    x[i] = uint32_t(prmBlock[4 * i]) | uint32_t(prmBlock[4 * i + 1]) << 8 |
           uint32_t(prmBlock[4 * i + 2]) << 16 | uint32_t(prmBlock[4 * i + 3]) << 24;
  uint32_t a = prmState[0], b = prmState[1], c = prmState[2], d = prmState[3];
  static constexpr int kS1[4] = {3, 7, 11, 19}, kS2[4] = {3, 5, 9, 13}, kS3[4] = {3, 9, 11, 15};
  for (int i = 0; i < 16; ++i) {
    uint32_t t = a + F(b, c, d) + x[i];
    a = d, d = c, c = b, b = Rotl(t, kS1[i % 4]);
  }
  for (int i = 0; i < 16; ++i) {
    uint32_t t = a + G(b, c, d) + x[(i % 4) * 4 + i / 4] + 0x5A827999u;
    a = d, d = c, c = b, b = Rotl(t, kS2[i % 4]);
  }
  static constexpr int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  for (int i = 0; i < 16; ++i) {
    uint32_t t = a + H(b, c, d) + x[kOrder3[i]] + 0x6ED9EBA1u;
    a = d, d = c, c = b, b = Rotl(t, kS3[i % 4]);
  }
  prmState[0] += a, prmState[1] += b, prmState[2] += c, prmState[3] += d;
}

}  // namespace

std::array<uint8_t, 16> Md4(const uint8_t* prmData, size_t prmLen) {
  uint32_t state[4] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u};
  size_t full = prmLen / 64 * 64;
  for (size_t i = 0; i < full; i += 64) Block(state, prmData + i);
  // Padding: 0x80, zeros to 56 mod 64, then the bit length little-endian.
  std::vector<uint8_t> tail(prmData + full, prmData + prmLen);
  tail.push_back(0x80);
  while (tail.size() % 64 != 56) tail.push_back(0);
  uint64_t bits = uint64_t(prmLen) * 8;
  for (int i = 0; i < 8; ++i) tail.push_back(uint8_t(bits >> (8 * i)));
  for (size_t i = 0; i < tail.size(); i += 64) Block(state, tail.data() + i);
  std::memset(tail.data(), 0, tail.size());
  std::array<uint8_t, 16> out{};
  for (int i = 0; i < 16; ++i) out[i] = uint8_t(state[i / 4] >> (8 * (i % 4)));
  return out;
}

}  // namespace vantrel::ntlm
