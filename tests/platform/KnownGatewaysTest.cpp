#include "platform/KnownGateways.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/TestEnv.h"

namespace vantrel {
namespace {

const std::string kFp =
    "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:"
    "EE:FF";

TEST(KnownGateways, FingerprintForms) {
  const struct {
    std::string Text, Normal;
  } cases[] = {
      {kFp, kFp},
      {"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff", kFp},
      {kFp.substr(3), ""},           // too short
      {kFp + ":00", ""},             // too long
      {"zz" + kFp.substr(2), ""},    // not hex
      {std::string("00\0", 3), ""},  // a NUL is no digit
  };
  for (const auto& c : cases) EXPECT_EQ(NormalizeFingerprint(c.Text), c.Normal) << c.Text;
  // libcurl's form of the same digest.
  EXPECT_EQ(CurlKeyPin(kFp), "sha256//ABEiM0RVZneImaq7zN3u/wARIjNEVWZ3iJmqu8zd7v8=");
  EXPECT_EQ(CurlKeyPin("nope"), "");
}

// A pin file is used whole or not at all, and only when nobody else can have written it.
TEST(KnownGateways, ThePinFileIsTrustedOnlyWhenItIsTheUsersOwnAndWellFormed) {
  const std::string dir = test::TestRoot() + "/pins";
  const std::string path = dir + "/known_gateways";
  const std::string good = "# c\ngw.example 443 " + kFp + " 2026-01-01T00:00:00Z\n";
  const struct {
    const char* Name;
    std::string Content;  // nullopt-like: "-" means no file
    mode_t Mode;
    bool Link;
    const char* Error;  // empty: loads
    size_t Pins;
  } cases[] = {
      {"missing", "-", 0600, false, "", 0},
      {"good", good, 0600, false, "", 1},
      {"blank lines and comments", "\n  \n#x\n" + good, 0600, false, "", 1},
      {"corrupt", good + "gw.example 443\n", 0600, false, "corrupt at line 3", 0},
      {"port out of range", "gw 70000 " + kFp + " t\n", 0600, false, "corrupt", 0},
      {"lower-case fingerprint", "gw 1 " + kFp.substr(0, 93) + "ff t\n", 0600, false, "corrupt", 0},
      {"NUL in a host", std::string("g\0w 1 ", 6) + kFp + " t\n", 0600, false, "corrupt", 0},
      {"world-writable", good, 0602, false, "writable by others", 0},
      {"group-writable", good, 0620, false, "writable by others", 0},
      {"a link", good, 0600, true, "is a link", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    if (c.Content != "-") {
      std::string target = c.Link ? dir + "/real" : path;
      std::ofstream(target, std::ios::binary) << c.Content;
      chmod(target.c_str(), c.Mode);
      if (c.Link) {
        ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
      }
    }
    TKnownGateways store(path);
    std::vector<TPinnedGateway> pins;
    std::string error;
    bool ok = store.Load(pins, error);
    EXPECT_EQ(ok, std::string(c.Error).empty()) << error;
    EXPECT_NE(error.find(c.Error), std::string::npos) << error;
    EXPECT_EQ(pins.size(), c.Pins);
    // Nothing is added to a file that cannot be trusted.
    EXPECT_EQ(store.Remember("other", 8443, kFp, 0, error), ok) << error;
  }
}

TEST(KnownGateways, RememberReplacesTheGatewaysLineAndKeepsTheFilePrivate) {
  const std::string path = test::TestRoot() + "/remember/known_gateways";
  std::filesystem::remove_all(test::TestRoot() + "/remember");
  TKnownGateways store(path);
  std::string error;
  const std::string other = NormalizeFingerprint(std::string(64, 'a'));
  ASSERT_TRUE(store.Remember("gw.example", 443, kFp, 0, error)) << error;
  ASSERT_TRUE(store.Remember("gw.example", 8443, kFp, 0, error)) << error;
  ASSERT_TRUE(store.Remember("gw.example", 443, other, 86400, error)) << error;
  EXPECT_FALSE(store.Remember("bad host", 443, kFp, 0, error));
  EXPECT_FALSE(store.Remember(std::string("gw\0x", 4), 443, kFp, 0, error));
  std::vector<TPinnedGateway> pins;
  ASSERT_TRUE(store.Load(pins, error)) << error;
  ASSERT_EQ(pins.size(), 2u);
  const TPinnedGateway* p = TKnownGateways::Find(pins, "gw.example", 443);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->Fingerprint, other);
  EXPECT_EQ(p->AcceptedAt, "1970-01-02T00:00:00Z");
  EXPECT_EQ(TKnownGateways::Find(pins, "gw.example", 444), nullptr);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace vantrel
