#include "ntlmlib/NtlmCrypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <stdexcept>
#include <string>

#include "ntlmlib/Md4.h"

namespace vantrel::ntlm {
namespace {

void Append(TBytes& prmTo, const uint8_t* prmData, size_t prmLen) {
  prmTo.insert(prmTo.end(), prmData, prmData + prmLen);
}

// Decodes one UTF-8 sequence at prmText[i], advancing i; U+FFFD for anything malformed.
char32_t NextCodePoint(std::string_view prmText, size_t& i) {
  auto c = static_cast<unsigned char>(prmText[i++]);
  if (c < 0x80) return c;
  int extra = c >= 0xF0 && c < 0xF5 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 && c < 0xE0 ? 1 : -1;
  if (extra < 0) return 0xFFFD;
  char32_t cp = c & (0x3F >> extra);
  for (int k = 0; k < extra; ++k) {
    if (i >= prmText.size() || (static_cast<unsigned char>(prmText[i]) & 0xC0) != 0x80)
      return 0xFFFD;
    cp = cp << 6 | (static_cast<unsigned char>(prmText[i++]) & 0x3F);
  }
  static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return 0xFFFD;
  return cp;
}

// Both v2 responses: HMAC-MD5 over the server challenge and the client's part, then that part.
TBytes ProofAndPart(const TKey& prmNtowf, const TChallenge& prmServer, const uint8_t* prmPart,
                    size_t prmLen) {
  TBytes data(prmServer.begin(), prmServer.end());
  Append(data, prmPart, prmLen);
  TKey proof = HmacMd5(prmNtowf, data);
  TBytes out(proof.begin(), proof.end());
  Append(out, prmPart, prmLen);
  return out;
}

}  // namespace

TBytes Utf16Le(std::string_view prmUtf8) {
  TBytes out;
  out.reserve(prmUtf8.size() * 2);
  auto put = [&out](char32_t u) {
    out.push_back(uint8_t(u));
    out.push_back(uint8_t(u >> 8));
  };
  for (size_t i = 0; i < prmUtf8.size();) {
    char32_t cp = NextCodePoint(prmUtf8, i);
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return out;
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

TKey HmacMd5(const TKey& prmKey, const TBytes& prmData) {
  TKey out{};
  unsigned len = 0;
  if (!HMAC(EVP_md5(), prmKey.data(), int(prmKey.size()), prmData.data(), prmData.size(),
            out.data(), &len) ||
      len != out.size())
    throw std::runtime_error("HMAC-MD5 failed");
  return out;
}

TKey NtHash(std::string_view prmPassword) {
  TBytes pw = Utf16Le(prmPassword);
  TKey out = Md4(pw.data(), pw.size());
  OPENSSL_cleanse(pw.data(), pw.size());
  return out;
}

TKey NtowfV2(const TKey& prmNtHash, std::string_view prmUser, std::string_view prmDomain) {
  std::string text;
  for (char c : prmUser) text += AsciiUpper(c);
  text += prmDomain;
  return HmacMd5(prmNtHash, Utf16Le(text));
}

TBytes NtlmV2Blob(uint64_t prmTime, const TChallenge& prmClient, const TBytes& prmTargetInfo) {
  TBytes blob = {0x01, 0x01, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) blob.push_back(uint8_t(prmTime >> (8 * i)));
  Append(blob, prmClient.data(), prmClient.size());
  blob.insert(blob.end(), 4, 0);
  Append(blob, prmTargetInfo.data(), prmTargetInfo.size());
  blob.insert(blob.end(), 4, 0);
  return blob;
}

TBytes NtlmV2Response(const TKey& prmNtowf, const TChallenge& prmServer, const TBytes& prmBlob) {
  return ProofAndPart(prmNtowf, prmServer, prmBlob.data(), prmBlob.size());
}

TBytes LmV2Response(const TKey& prmNtowf, const TChallenge& prmServer,
                    const TChallenge& prmClient) {
  return ProofAndPart(prmNtowf, prmServer, prmClient.data(), prmClient.size());
}

}  // namespace vantrel::ntlm
