#include "platform/DataProtection.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>

#include "diag/DebugLog.h"
#include "diag/UniqueFd.h"
#include "diag/WriteAll.h"
#include "platform/Settings.h"

namespace vantrel {

namespace {

constexpr char kMagic[4] = {'V', 'D', 'P', 'B'};
constexpr uint8_t kVersion = 1;
constexpr size_t kHeaderLen = sizeof(kMagic) + 1;
constexpr size_t kNonceLen = 12;
constexpr size_t kTagLen = 16;
constexpr size_t kKeyLen = 32;

// Wipes the key when it goes out of scope.
struct TKey {
  std::array<unsigned char, kKeyLen> Bytes{};
  ~TKey() { OPENSSL_cleanse(Bytes.data(), Bytes.size()); }
};

struct TCipherCtxFree {
  void operator()(EVP_CIPHER_CTX* prmCtx) const { EVP_CIPHER_CTX_free(prmCtx); }
};
using TCipherCtx = std::unique_ptr<EVP_CIPHER_CTX, TCipherCtxFree>;

void WipeString(std::string& prmText) {
  if (!prmText.empty()) OPENSSL_cleanse(prmText.data(), prmText.size());
  prmText.clear();
}

bool ReadAll(int prmFd, unsigned char* prmBuf, size_t prmLen) {
  size_t done = 0;
  while (done < prmLen) {
    ssize_t n = read(prmFd, prmBuf + done, prmLen - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  // The key file holds exactly the key; anything more means it is not ours.
  unsigned char extra;
  return read(prmFd, &extra, 1) == 0;
}

// A key file is trusted only when it is a regular file of this user that nobody else can read.
bool ReadKey(const std::string& prmPath, TKey& prmKey) {
  TUniqueFd fd(open(prmPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return false;
  struct stat st {};
  bool ok = fstat(fd.Get(), &st) == 0;
  if (ok && (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0)) {
    WriteDebugLog("DataProtection - key file refused (owner or mode): " + prmPath);
    ok = false;
  }
  return ok && ReadAll(fd.Get(), prmKey.Bytes.data(), kKeyLen);
}

// A new key is written whole under a private name and then linked into place, so a concurrent
// reader never sees half a key and two creators agree on one key (the loser reads the winner's).
bool CreateKey(const std::string& prmPath, TKey& prmKey) {
  const std::string dir = ConfigDir();
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  if (RAND_bytes(prmKey.Bytes.data(), static_cast<int>(kKeyLen)) != 1) return false;
  const std::string tmp = prmPath + ".new." + std::to_string(getpid());
  TUniqueFd fd(open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) return false;
  bool ok = WriteAll(fd.Get(), {reinterpret_cast<const char*>(prmKey.Bytes.data()), kKeyLen}) &&
            fsync(fd.Get()) == 0;
  fd.Reset();
  ok = ok && link(tmp.c_str(), prmPath.c_str()) == 0;
  unlink(tmp.c_str());
  return ok;
}

bool LoadKey(bool prmCreate, TKey& prmKey) {
  const std::string path = DataProtectionKeyPath();
  if (ReadKey(path, prmKey)) return true;
  if (!prmCreate || access(path.c_str(), F_OK) == 0) return false;
  if (CreateKey(path, prmKey)) return true;
  return ReadKey(path, prmKey);
}

}  // namespace

std::string DataProtectionKeyPath() {
  return ConfigDir() + "/protect.key";
}

bool ProtectData(std::string_view prmData, std::string_view prmDescription, std::string& prmBlob) {
  prmBlob.clear();
  if (prmDescription.size() > 0xFFFF) return false;
  TKey key;
  if (!LoadKey(true, key)) {
    WriteDebugLog("DataProtection - no key");
    return false;
  }
  std::string plain;
  plain.reserve(2 + prmDescription.size() + prmData.size());
  plain.push_back(static_cast<char>(prmDescription.size() >> 8));
  plain.push_back(static_cast<char>(prmDescription.size() & 0xFF));
  plain.append(prmDescription);
  plain.append(prmData);

  std::string blob(kHeaderLen + kNonceLen + plain.size() + kTagLen, '\0');
  auto* out = reinterpret_cast<unsigned char*>(blob.data());
  std::copy(std::begin(kMagic), std::end(kMagic), out);
  out[sizeof(kMagic)] = kVersion;
  unsigned char* nonce = out + kHeaderLen;
  unsigned char* cipher = nonce + kNonceLen;
  TCipherCtx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  bool ok =
      ctx && RAND_bytes(nonce, kNonceLen) == 1 &&
      EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.Bytes.data(), nonce) == 1 &&
      EVP_EncryptUpdate(ctx.get(), nullptr, &len, out, kHeaderLen) == 1 &&
      EVP_EncryptUpdate(ctx.get(), cipher, &len,
                        reinterpret_cast<const unsigned char*>(plain.data()),
                        static_cast<int>(plain.size())) == 1 &&
      EVP_EncryptFinal_ex(ctx.get(), cipher + len, &len) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagLen, cipher + plain.size()) == 1;
  WipeString(plain);
  if (ok) prmBlob = std::move(blob);
  return ok;
}

bool UnprotectData(std::string_view prmBlob, std::string& prmData, std::string* prmDescription) {
  WipeString(prmData);
  if (prmDescription != nullptr) prmDescription->clear();
  if (prmBlob.size() < kHeaderLen + kNonceLen + 2 + kTagLen ||
      prmBlob.compare(0, sizeof(kMagic), std::string_view(kMagic, sizeof(kMagic))) != 0 ||
      static_cast<uint8_t>(prmBlob[sizeof(kMagic)]) != kVersion)
    return false;
  TKey key;
  if (!LoadKey(false, key)) {
    WriteDebugLog("DataProtection - no key");
    return false;
  }
  const auto* in = reinterpret_cast<const unsigned char*>(prmBlob.data());
  const unsigned char* nonce = in + kHeaderLen;
  const unsigned char* cipher = nonce + kNonceLen;
  const size_t cipherLen = prmBlob.size() - kHeaderLen - kNonceLen - kTagLen;
  std::string plain(cipherLen, '\0');
  auto* plainOut = reinterpret_cast<unsigned char*>(plain.data());
  TCipherCtx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  bool ok =
      ctx &&
      EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.Bytes.data(), nonce) == 1 &&
      EVP_DecryptUpdate(ctx.get(), nullptr, &len, in, kHeaderLen) == 1 &&
      EVP_DecryptUpdate(ctx.get(), plainOut, &len, cipher, static_cast<int>(cipherLen)) == 1 &&
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagLen,
                          const_cast<unsigned char*>(cipher + cipherLen)) == 1 &&
      EVP_DecryptFinal_ex(ctx.get(), plainOut + len, &len) == 1;
  size_t descLen = ok ? (static_cast<size_t>(plainOut[0]) << 8) | plainOut[1] : 0;
  if (ok && 2 + descLen > plain.size()) ok = false;
  if (ok) {
    if (prmDescription != nullptr) prmDescription->assign(plain, 2, descLen);
    prmData.assign(plain, 2 + descLen, std::string::npos);
  }
  WipeString(plain);
  return ok;
}

}  // namespace vantrel
