// Per-user data protection: round trips, the key file's creation and modes, and blobs that must
// not unprotect (changed anywhere, cut short, made with another key, key readable by others).
#include "platform/DataProtection.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/TestEnv.h"

namespace vantrel::test {
namespace {

// Each test gets a configuration folder of its own, so key files never leak between tests.
class DataProtection : public ::testing::Test {
 protected:
  void SetUp() override {
    m_Saved = std::getenv("XDG_CONFIG_HOME");
    static int n = 0;
    m_Dir = TestRoot() + "/dp-config-" + std::to_string(++n);
    std::filesystem::create_directories(m_Dir);
    setenv("XDG_CONFIG_HOME", m_Dir.c_str(), 1);
  }
  void TearDown() override { setenv("XDG_CONFIG_HOME", m_Saved.c_str(), 1); }

  static mode_t Mode(const std::string& prmPath) {
    struct stat st {};
    EXPECT_EQ(stat(prmPath.c_str(), &st), 0) << prmPath;
    return st.st_mode & 0777;
  }

  std::string m_Saved;
  std::string m_Dir;
};

TEST_F(DataProtection, RoundTripKeepsDataAndDescriptionAndCreatesPrivateKey) {
  const std::string binary("p\0w\xff\x01", 5);
  for (const std::string& data : {std::string(), std::string("secret"), binary}) {
    std::string blob, back, desc;
    ASSERT_TRUE(ProtectData(data, "psw", blob));
    EXPECT_EQ(blob.find("secret"), std::string::npos);
    ASSERT_TRUE(UnprotectData(blob, back, &desc));
    EXPECT_EQ(back, data);
    EXPECT_EQ(desc, "psw");
  }
  EXPECT_EQ(DataProtectionKeyPath(), m_Dir + "/vantrel/protect.key");
  EXPECT_EQ(Mode(DataProtectionKeyPath()), 0600u);
  EXPECT_EQ(Mode(m_Dir + "/vantrel"), 0700u);
  EXPECT_EQ(std::filesystem::file_size(DataProtectionKeyPath()), 32u);
  // A fresh nonce each time: equal data never gives equal blobs.
  std::string a, b;
  ASSERT_TRUE(ProtectData("same", "", a));
  ASSERT_TRUE(ProtectData("same", "", b));
  EXPECT_NE(a, b);
  EXPECT_EQ(a.substr(0, 5), std::string("VDPB\x01"));
}

TEST_F(DataProtection, ChangedOrShortBlobsFailWithoutOutput) {
  std::string blob;
  ASSERT_TRUE(ProtectData("the password", "psw", blob));
  for (size_t i = 0; i < blob.size(); ++i) {
    std::string bad = blob;
    bad[i] = static_cast<char>(bad[i] ^ 0x01);
    std::string out = "stale", desc = "stale";
    EXPECT_FALSE(UnprotectData(bad, out, &desc)) << "byte " << i;
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(desc.empty());
  }
  for (size_t len : {size_t{0}, size_t{4}, size_t{20}, blob.size() - 1}) {
    std::string out;
    EXPECT_FALSE(UnprotectData(blob.substr(0, len), out)) << len;
  }
  std::string out;
  EXPECT_FALSE(UnprotectData(blob + "x", out));
}

TEST_F(DataProtection, AnotherKeyOrAnExposedKeyRefuses) {
  std::string blob;
  ASSERT_TRUE(ProtectData("pw", "psw", blob));
  const std::string key = DataProtectionKeyPath();

  // Another user's key (here: another key in its place) cannot open the blob.
  std::filesystem::remove(key);
  std::string other;
  ASSERT_TRUE(ProtectData("x", "", other));
  std::string out;
  EXPECT_FALSE(UnprotectData(blob, out));

  // A key that others can read is not trusted for either direction.
  chmod(key.c_str(), 0644);
  EXPECT_FALSE(UnprotectData(other, out));
  std::string fresh;
  EXPECT_FALSE(ProtectData("y", "", fresh));
  EXPECT_TRUE(fresh.empty());
  chmod(key.c_str(), 0600);
  EXPECT_TRUE(UnprotectData(other, out));

  // A damaged key file (wrong length) is refused rather than replaced.
  std::ofstream(key, std::ios::binary | std::ios::trunc) << "short";
  chmod(key.c_str(), 0600);
  EXPECT_FALSE(ProtectData("z", "", fresh));
  EXPECT_FALSE(UnprotectData(other, out));
}

TEST_F(DataProtection, UnprotectWithoutKeyDoesNotCreateOne) {
  std::string out;
  EXPECT_FALSE(UnprotectData(std::string("VDPB\x01", 5) + std::string(40, 'a'), out));
  EXPECT_FALSE(std::filesystem::exists(DataProtectionKeyPath()));
}

}  // namespace
}  // namespace vantrel::test
