// The exported entry points over the message builders. The context keeps the NT hash, never the
// password, and is wiped when freed.
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "ntlmlib/Brelntlm.h"
#include "ntlmlib/NtlmMessages.h"
#include "ntlmlib/NtlmUserFile.h"

namespace vantrel::ntlm {
namespace {

constexpr size_t kMaxOut = 4096;
// A challenge larger than this is not a proxy's type-2 message.
constexpr size_t kMaxChallengeText = 8192;

struct TContext {
  TKey NtHash{};
  std::string User;
  std::string Domain;
  std::string Workstation;
  ~TContext() {
    OPENSSL_cleanse(NtHash.data(), NtHash.size());
    OPENSSL_cleanse(User.data(), User.size());
    OPENSSL_cleanse(Domain.data(), Domain.size());
  }
};

std::string LoginName() {
  passwd entry{}, *found = nullptr;
  char buf[4096];
  if (getpwuid_r(geteuid(), &entry, buf, sizeof buf, &found) == 0 && found && found->pw_name)
    return found->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : "";
}

// The short host name in upper case, as workstations name themselves.
std::string Workstation() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  std::string host(name);
  host = host.substr(0, host.find('.'));
  for (char& c : host) c = AsciiUpper(c);
  return host;
}

uint64_t FileTimeNow() {
  using namespace std::chrono;
  auto since1970 = duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
  return (uint64_t(since1970) + 11644473600ull) * 10000000ull;
}

int WriteBase64(const TBytes& prmMsg, char* prmOut) {
  if ((prmMsg.size() + 2) / 3 * 4 > kMaxOut) return NTLM_E_TOO_LONG;
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(prmOut), prmMsg.data(), int(prmMsg.size()));
  return NTLM_OK;
}

bool ReadBase64(const char* prmText, TBytes& prmOut) {
  std::string text;
  for (const char* p = prmText; *p && text.size() <= kMaxChallengeText; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') text += *p;
  if (text.empty() || text.size() > kMaxChallengeText || text.size() % 4 != 0) return false;
  prmOut.assign(text.size() / 4 * 3, 0);
  int n = EVP_DecodeBlock(prmOut.data(), reinterpret_cast<const unsigned char*>(text.data()),
                          int(text.size()));
  if (n < 0) return false;
  size_t pad = text.back() == '=' ? (text[text.size() - 2] == '=' ? 2 : 1) : 0;
  prmOut.resize(size_t(n) - pad);
  return true;
}

int Negotiate(void** prmCtx, const char* prmDomain, const char* prmUser, const char* prmPassword,
              char* prmOut) {
  auto ctx = std::make_unique<TContext>();
  TUserCredentials creds;
  if (!prmDomain && !prmUser && !prmPassword) {
    const char* file = std::getenv("NTLM_USER_FILE");
    if (!file || !ReadUserFileCredentials(file, LoginName(), creds)) return NTLM_E_NO_CREDS;
  } else {
    creds = {prmDomain ? prmDomain : "", prmUser ? prmUser : "", prmPassword ? prmPassword : ""};
    if (size_t bs = creds.User.find('\\'); creds.Domain.empty() && bs != std::string::npos) {
      creds.Domain = creds.User.substr(0, bs);
      creds.User.erase(0, bs + 1);
    }
  }
  ctx->NtHash = NtHash(creds.Password);
  OPENSSL_cleanse(creds.Password.data(), creds.Password.size());
  ctx->User = creds.User;
  ctx->Domain = creds.Domain;
  ctx->Workstation = Workstation();
  if (int rc = WriteBase64(BuildNegotiateMessage(), prmOut); rc != NTLM_OK) return rc;
  *prmCtx = ctx.release();
  return NTLM_OK;
}

int Authenticate(void** prmCtx, const char* prmChallenge, char* prmOut) {
  auto* ctx = static_cast<TContext*>(*prmCtx);
  if (!ctx) return NTLM_E_NO_CONTEXT;
  TBytes raw;
  TChallengeMessage challenge;
  if (!ReadBase64(prmChallenge, raw) || !ParseChallengeMessage(raw, challenge))
    return NTLM_E_CHALLENGE;
  TAuthenticateInput in;
  in.NtHash = ctx->NtHash;
  in.User = ctx->User;
  in.Domain = ctx->Domain;
  in.Workstation = ctx->Workstation;
  in.Time = FileTimeNow();
  if (RAND_bytes(in.ClientChallenge.data(), int(in.ClientChallenge.size())) != 1)
    return NTLM_E_INTERNAL;
  TBytes msg = BuildAuthenticateMessage(challenge, in);
  OPENSSL_cleanse(in.NtHash.data(), in.NtHash.size());
  return WriteBase64(msg, prmOut);
}

}  // namespace
}  // namespace vantrel::ntlm

using namespace vantrel::ntlm;

// Inside extern "C", a definition that parts from its declaration in Brelntlm.h fails to compile.
extern "C" {

int ntlm_build_negotiate_msg(void** ctx, const char* /*server*/, const char* domain,
                             const char* user, const char* password, char* out, int reserved) {
  if (!ctx || !out || reserved != 0) return NTLM_E_ARGUMENT;
  ntlm_ctx_free(ctx);
  try {
    return Negotiate(ctx, domain, user, password, out);
  } catch (const std::exception&) {
    return NTLM_E_INTERNAL;
  }
}

int ntlm_build_auth_msg(void** ctx, const char* challenge, int option, char* out, int reserved) {
  if (!ctx || !challenge || !out || option != NTLM_OPTION_NTLMV2 || reserved != 0)
    return NTLM_E_ARGUMENT;
  try {
    return Authenticate(ctx, challenge, out);
  } catch (const std::exception&) {
    return NTLM_E_INTERNAL;
  }
}

int ntlm_ctx_free(void** ctx) {
  if (!ctx) return NTLM_E_ARGUMENT;
  delete static_cast<TContext*>(*ctx);
  *ctx = nullptr;
  return NTLM_OK;
}

}  // extern "C"
