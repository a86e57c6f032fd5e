// NTLMv2 against the published MS-NLMP examples (section 4.2.4), the challenge reader on broken
// input, and the exported entry points of the built libBrelntlm.so.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <unistd.h>
#include <csignal>

#include <cstring>
#include <fstream>
#include <string>

#include "ntlmlib/Brelntlm.h"
#include "ntlmlib/Md4.h"
#include "ntlmlib/NtlmMessages.h"
#include "support/TestEnv.h"

namespace vantrel::ntlm {
namespace {

TBytes Hex(const std::string& prmHex) {
  TBytes out;
  for (size_t i = 0; i + 1 < prmHex.size(); i += 2)
    out.push_back(uint8_t(std::stoi(prmHex.substr(i, 2), nullptr, 16)));
  return out;
}
template <class T>
TBytes B(const T& a) {
  return TBytes(a.begin(), a.end());
}

// MS-NLMP 4.2.4.3: the CHALLENGE_MESSAGE and the NtChallengeResponse of the AUTHENTICATE_MESSAGE.
const TBytes kChallengeMsg =
    Hex("4e544c4d53535000020000000c000c003800000033828ae20123456789abcdef"
        "00000000000000002400240044000000060070170000000f5300650072007600"
        "6500720002000c0044006f006d00610069006e0001000c005300650072007600"
        "6500720000000000");
const TBytes kNtResponse =
    Hex("68cd0ab851e51c96aabc927bebef6a1c01010000000000000000000000000000"
        "aaaaaaaaaaaaaaaa0000000002000c0044006f006d00610069006e0001000c00"
        "53006500720076006500720000000000"
        "00000000");
const TBytes kLmV2 = Hex("86c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa");
const TChallenge kServer = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
const TChallenge kClient = {0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa, 0xaa};

// Field prmIndex (0 LM, 1 NT, 2 domain, 3 user, 4 workstation) of a type-3 message.
TBytes Field(const TBytes& prmMsg, int prmIndex) {
  size_t at = 12 + 8 * size_t(prmIndex);
  size_t len = prmMsg[at] | prmMsg[at + 1] << 8;
  size_t off = prmMsg[at + 4] | prmMsg[at + 5] << 8 | prmMsg[at + 6] << 16;
  EXPECT_LE(off + len, prmMsg.size());
  return TBytes(prmMsg.begin() + off, prmMsg.begin() + off + len);
}

TEST(Ntlm, Md4MatchesRfc1320) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "e33b4ddc9c38f2199c3e7b164fcc0536"},
  };
  for (const auto& [text, digest] : cases)
    EXPECT_EQ(B(Md4(reinterpret_cast<const uint8_t*>(text.data()), text.size())), Hex(digest))
        << text;
}

TEST(Ntlm, ResponsesMatchPublishedExample) {
  TKey ntowf = NtowfV2(NtHash("Password"), "User", "Domain");
  EXPECT_EQ(B(ntowf), Hex("0c868a403bfd7a93a3001ef22ef02e3f"));
  EXPECT_EQ(LmV2Response(ntowf, kServer, kClient), kLmV2);

  TChallengeMessage challenge;
  ASSERT_TRUE(ParseChallengeMessage(kChallengeMsg, challenge));
  EXPECT_EQ(B(challenge.ServerChallenge), B(kServer));
  EXPECT_FALSE(challenge.HasTimestamp);
  TAuthenticateInput in{NtHash("Password"), "User", "Domain", "COMPUTER", kClient, 0};
  TBytes msg = BuildAuthenticateMessage(challenge, in);
  EXPECT_EQ(Field(msg, 0), kLmV2);
  EXPECT_EQ(Field(msg, 1), kNtResponse);
  EXPECT_EQ(Field(msg, 2), Utf16Le("Domain"));
  EXPECT_EQ(Field(msg, 3), Utf16Le("User"));
  EXPECT_EQ(Field(msg, 4), Utf16Le("COMPUTER"));
  EXPECT_EQ(TBytes(msg.begin() + 60, msg.begin() + 64), Hex("018288a0"));
}

TEST(Ntlm, ServerTimestampReplacesClockAndSilencesLm) {
  // Target info: MsvAvTimestamp = 0x0102030405060708, then MsvAvEOL.
  TBytes msg = kChallengeMsg;
  TBytes info =
      Hex("0700080008070605040302010000"
          "0000");
  msg.resize(0x44);
  msg.insert(msg.end(), info.begin(), info.end());
  msg[40] = msg[42] = uint8_t(info.size());
  TChallengeMessage challenge;
  ASSERT_TRUE(ParseChallengeMessage(msg, challenge));
  ASSERT_TRUE(challenge.HasTimestamp);
  TAuthenticateInput in{NtHash("Password"), "User", "Domain", "", kClient, 99};
  TBytes type3 = BuildAuthenticateMessage(challenge, in);
  EXPECT_EQ(Field(type3, 0), TBytes(24, 0));
  TBytes nt = Field(type3, 1);
  EXPECT_EQ(TBytes(nt.begin() + 24, nt.begin() + 32), Hex("0807060504030201"));
}

TEST(Ntlm, BrokenChallengeIsRefusedWhole) {
  TChallengeMessage out;
  out.Flags = 42;
  // Every truncation cuts the target info the header announces.
  for (size_t n = 0; n < kChallengeMsg.size(); ++n)
    EXPECT_FALSE(
        ParseChallengeMessage(TBytes(kChallengeMsg.begin(), kChallengeMsg.begin() + n), out))
        << n;
  auto with = [](size_t at, uint8_t v) {
    TBytes m = kChallengeMsg;
    m[at] = v;
    return m;
  };
  for (const TBytes& bad : {with(0, 'X'), with(8, 3), with(45, 0x10), with(0x46, 0x7f)})
    EXPECT_FALSE(ParseChallengeMessage(bad, out));
  EXPECT_EQ(out.Flags, 42u);
}

// The built library, loaded as the control loads it.
class NtlmLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Lib = dlopen((test::LibDir() + "/libBrelntlm.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(m_Lib, nullptr) << dlerror();
    m_Negotiate = reinterpret_cast<decltype(m_Negotiate)>(dlsym(m_Lib, "ntlm_build_negotiate_msg"));
    m_Auth = reinterpret_cast<decltype(m_Auth)>(dlsym(m_Lib, "ntlm_build_auth_msg"));
    m_Free = reinterpret_cast<decltype(m_Free)>(dlsym(m_Lib, "ntlm_ctx_free"));
    ASSERT_TRUE(m_Negotiate && m_Auth && m_Free);
  }
  void TearDown() override {
    if (m_Free) m_Free(&m_Ctx);
    if (m_Lib) dlclose(m_Lib);
    unsetenv("NTLM_USER_FILE");
  }
  static TBytes Decode(const char* prmText) {
    TBytes out(std::strlen(prmText) / 4 * 3 + 3);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const uint8_t*>(prmText),
                            int(std::strlen(prmText)));
    out.resize(n < 0 ? 0 : size_t(n));
    return out;
  }
  // Negotiates, then answers the published challenge; the type-3 message, or empty.
  TBytes Handshake(const char* prmDomain, const char* prmUser, const char* prmPassword) {
    char out[4097] = {};
    if (m_Negotiate(&m_Ctx, "proxy", prmDomain, prmUser, prmPassword, out, 0) != NTLM_OK) return {};
    EXPECT_EQ(Decode(out).size(), 33u);  // 32 bytes, Base64 padded to 36 characters
    std::string challenge(kChallengeMsg.size() / 3 * 4 + 4, '\0');
    EVP_EncodeBlock(reinterpret_cast<uint8_t*>(challenge.data()), kChallengeMsg.data(),
                    int(kChallengeMsg.size()));
    std::memset(out, 0, sizeof out);
    EXPECT_EQ(m_Auth(&m_Ctx, challenge.c_str(), NTLM_OPTION_NTLMV2, out, 0), NTLM_OK);
    return Decode(out);
  }
  // True when the NTProofStr of prmType3 is right for the given password, as a server checks.
  static bool ProofHolds(const TBytes& prmType3, const std::string& prmPassword) {
    TBytes nt = Field(prmType3, 1);
    TBytes user = Field(prmType3, 3), domain = Field(prmType3, 2);
    auto narrow = [](const TBytes& u) {
      std::string s;
      for (size_t i = 0; i < u.size(); i += 2) s += char(u[i]);
      return s;
    };
    TKey ntowf = NtowfV2(NtHash(prmPassword), narrow(user), narrow(domain));
    TBytes blob(nt.begin() + 16, nt.end());
    return NtlmV2Response(ntowf, kServer, blob) == nt;
  }

  void* m_Lib = nullptr;
  void* m_Ctx = nullptr;
  TNtlmBuildNegotiate m_Negotiate = {};
  TNtlmBuildAuth m_Auth = {};
  TNtlmCtxFree m_Free = {};
};

TEST_F(NtlmLibrary, ExplicitAndFileCredentialsAuthenticate) {
  std::string file = test::TestRoot() + "/tmp/ntlm_users";
  const std::string login = getpwuid(geteuid())->pw_name;
  std::ofstream(file) << "# comment\nOTHER:someone:x\nCORP:" << login << ":pa:ss\n";
  struct TCase {
    const char *Domain, *User, *Password;
    bool UseFile;
    std::string WantDomain, WantUser, Password_;
  } cases[] = {
      {"Domain", "User", "Password", false, "Domain", "User", "Password"},
      {nullptr, "CORP\\bob", "pw", false, "CORP", "bob", "pw"},
      {"", "", "", false, "", "", ""},
      {nullptr, nullptr, nullptr, true, "CORP", login, "pa:ss"},
  };
  for (const TCase& c : cases) {
    if (c.UseFile) setenv("NTLM_USER_FILE", file.c_str(), 1);
    TBytes type3 = Handshake(c.Domain, c.User, c.Password);
    ASSERT_FALSE(type3.empty()) << c.WantUser;
    EXPECT_EQ(Field(type3, 2), Utf16Le(c.WantDomain));
    EXPECT_EQ(Field(type3, 3), Utf16Le(c.WantUser));
    EXPECT_TRUE(ProofHolds(type3, c.Password_)) << c.WantUser;
    EXPECT_FALSE(ProofHolds(type3, c.Password_ + "x"));
    EXPECT_EQ(m_Free(&m_Ctx), NTLM_OK);
    EXPECT_EQ(m_Ctx, nullptr);
  }
}

TEST_F(NtlmLibrary, FailuresLeaveNoMessage) {
  char out[4097] = {};
  unsetenv("NTLM_USER_FILE");
  EXPECT_EQ(m_Negotiate(&m_Ctx, "p", nullptr, nullptr, nullptr, out, 0), NTLM_E_NO_CREDS);
  EXPECT_EQ(m_Ctx, nullptr);
  EXPECT_EQ(m_Auth(&m_Ctx, "TlRMTVNTUAACAAAA", 2, out, 0), NTLM_E_NO_CONTEXT);
  ASSERT_EQ(m_Negotiate(&m_Ctx, "p", "d", "u", "p", out, 0), NTLM_OK);
  std::memset(out, 0, sizeof out);
  // A type-2 message whose target info makes the answer too long for the buffer.
  TBytes huge = kChallengeMsg;
  huge.resize(0x44);
  TBytes info(4000, 0);
  info[0] = 0x7f, info[2] = 0x98, info[3] = 0x0f;  // one pair of 3,992 bytes, then EOL
  huge.insert(huge.end(), info.begin(), info.end());
  huge[40] = huge[42] = uint8_t(info.size()), huge[41] = huge[43] = uint8_t(info.size() >> 8);
  std::string hugeText(huge.size() / 3 * 4 + 4, '\0');
  EVP_EncodeBlock(reinterpret_cast<uint8_t*>(hugeText.data()), huge.data(), int(huge.size()));
  const std::pair<std::string, int> cases[] = {
      {"", NTLM_E_CHALLENGE},
      {"not base64!", NTLM_E_CHALLENGE},
      {"TlRMTVNTUAABAAAA", NTLM_E_CHALLENGE},  // a type-1 message
      {hugeText.c_str(), NTLM_E_TOO_LONG},
  };
  for (const auto& [challenge, rc] : cases) {
    EXPECT_EQ(m_Auth(&m_Ctx, challenge.c_str(), 2, out, 0), rc) << challenge.substr(0, 20);
    EXPECT_EQ(out[0], '\0');
  }
  EXPECT_EQ(m_Auth(&m_Ctx, "x", 1, out, 0), NTLM_E_ARGUMENT);
  EXPECT_EQ(dlsym(m_Lib, "_ZN7vantrel4ntlm3Md4EPKhm"), nullptr) << "only the entry points show";
}

// squid's NTLM test helper decodes both messages as a proxy does: "YR type1" is answered with
// "TT type2", "KK type3" with "AF DOMAIN\\user" once the type-3 message parses.
TEST_F(NtlmLibrary, SquidHelperAcceptsTheMessages) {
  const char* helper = "/usr/lib/squid/ntlm_fake_auth";
  ASSERT_EQ(access(helper, X_OK), 0) << helper << " missing (package squid)";
  int in[2], out[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in[0], 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  char* argv[] = {const_cast<char*>(helper), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, helper, &fa, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  close(in[0]), close(out[1]);
  // Ends the helper however the test leaves.
  struct TReap {
    pid_t Pid;
    int In, Out;
    ~TReap() {
      close(In), close(Out);
      kill(Pid, SIGTERM);
      waitpid(Pid, nullptr, 0);
    }
  } reap{pid, in[1], out[0]};
  auto ask = [&](const std::string& prmLine) {
    std::string line = prmLine + "\n", reply;
    EXPECT_EQ(write(in[1], line.data(), line.size()), ssize_t(line.size()));
    char c = 0;
    pollfd p{out[0], POLLIN, 0};
    while (poll(&p, 1, 5000) == 1 && read(out[0], &c, 1) == 1 && c != '\n') reply += c;
    return reply;
  };
  char msg[4097] = {};
  ASSERT_EQ(m_Negotiate(&m_Ctx, "proxy", "CORP", "alice", "pw", msg, 0), NTLM_OK);
  std::string type2 = ask(std::string("YR ") + msg);
  ASSERT_EQ(type2.rfind("TT ", 0), 0u) << type2;
  std::memset(msg, 0, sizeof msg);
  ASSERT_EQ(m_Auth(&m_Ctx, type2.c_str() + 3, NTLM_OPTION_NTLMV2, msg, 0), NTLM_OK);
  EXPECT_EQ(ask(std::string("KK ") + msg), "AF CORP\\alice");
}

}  // namespace
}  // namespace vantrel::ntlm
