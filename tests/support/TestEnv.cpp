// Every test binary runs with private XDG and temporary folders, so tests never touch the
// user's settings, viewer socket or temporary files, and binaries can run side by side.
#include "support/TestEnv.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/DebugLogSetup.h"
#include "tls/ServerTrust.h"

namespace vantrel::test {

namespace {
std::string g_Root;
}

const std::string& TestRoot() {
  return g_Root;
}

std::string BinDir() {
  const char* d = std::getenv("VANTREL_BIN_DIR");
  if (d) return d;
  return std::filesystem::canonical("/proc/self/exe").parent_path().string();
}

std::string LibDir() {
  const char* d = std::getenv("VANTREL_LIB_DIR");
  if (d) return d;
  return (std::filesystem::path(BinDir()).parent_path() / "lib").string();
}

std::string PeerKeyFingerprint(const char* prmPemFile) {
  std::string out;
  if (FILE* f = std::fopen(prmPemFile, "r")) {
    EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    out = PublicKeyFingerprint(key);
    EVP_PKEY_free(key);
  }
  return out;
}

class TPrivateEnv : public ::testing::Environment {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/vantrel-test-XXXXXX";
    char* dir = mkdtemp(tmpl);
    ASSERT_NE(dir, nullptr);
    g_Root = dir;
    for (const char* sub : {"config", "runtime", "tmp"})
      std::filesystem::create_directories(g_Root + "/" + sub);
    setenv("XDG_CONFIG_HOME", (g_Root + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (g_Root + "/runtime").c_str(), 1);
    setenv("TMPDIR", (g_Root + "/tmp").c_str(), 1);
    if (!std::getenv("VANTREL_DBGVIEW")) setenv("VANTREL_DBGVIEW", "0", 1);
    // Every reference peer of the run, in this process or started as a program, shows the key
    // made at build time, and the clients trust it as an administrator's pin: tests about the
    // trust decision itself clear the pin.
    setenv("VANTREL_TESTPEER_KEY", VANTREL_TEST_PEER_KEY, 1);
    std::string pin = PeerKeyFingerprint(VANTREL_TEST_PEER_KEY);
    ASSERT_FALSE(pin.empty()) << "no key in " << VANTREL_TEST_PEER_KEY;
    setenv("VANTREL_GATEWAY_PIN", pin.c_str(), 1);
    unsetenv("VANTREL_CA_FILE");
    unsetenv("VANTREL_CA_PATH");
    InitDebugLog();
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(g_Root, ec);
  }
};

}  // namespace vantrel::test

int main(int argc, char** argv) {
  ::testing::InitGoogleMock(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new vantrel::test::TPrivateEnv);
  return RUN_ALL_TESTS();
}
