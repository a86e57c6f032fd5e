// The Linux probes: this machine's adapters and WLAN (finding nothing is an answer, not a
// failure), and the security-product table over a prepared file tree.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "platform/ProbesLinux.h"
#include "support/TestEnv.h"

namespace vantrel::test {
namespace {

namespace fs = std::filesystem;

TEST(Probes, ThisMachineAnswersWithoutFailing) {
  std::vector<TAdapter> adapters = ReadAdapters();
  bool loopback = false;
  for (const TAdapter& adapter : adapters) {
    EXPECT_FALSE(adapter.Addresses.empty()) << adapter.Name;
    if (adapter.Name == "lo") {
      loopback = adapter.Type == ADAPTER_LOOPBACK && adapter.Addresses[0] == "127.0.0.1";
    }
  }
  EXPECT_TRUE(loopback);

  auto start = std::chrono::steady_clock::now();
  TWlanState wlan = ReadWlanInterfaces();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  if (wlan.OpenError != 0) {
    EXPECT_EQ(wlan.OpenError, WLAN_SERVICE_ABSENT);
  }

  TLinuxProbes probes;
  int health = 7;
  EXPECT_FALSE(probes.GetSecurityProviderHealth(WSC_PROVIDER_ANTIVIRUS, health));
  EXPECT_EQ(health, 7);
  EXPECT_EQ(probes.WSCInstCount(WSC_NAMESPACE1, WSC_ANTIVIRUS),
            probes.WSCInstCount(WSC_NAMESPACE2, WSC_ANTIVIRUS));
  EXPECT_EQ(probes.WSCInstCount("root\\Other", WSC_ANTIVIRUS), 0);
  EXPECT_EQ(probes.WSCGetAttr(WSC_NAMESPACE1, WSC_FIREWALL, "displayName", 99), "");
}

void Put(const fs::path& prmPath, const std::string& prmText) {
  fs::create_directories(prmPath.parent_path());
  std::ofstream(prmPath) << prmText;
}

TEST(Probes, ProductTableOverAFileTree) {
  fs::path root = fs::path(TestRoot()) / "probes-tree";
  fs::remove_all(root);
  Put(root / "var/lib/dpkg/status",
      "Package: clamav\nStatus: install ok installed\nVersion: 1.0.7\n\n"
      "Package: nftables\nVersion: 1.0.6\n");
  Put(root / "var/lib/clamav/daily.cvd", "x");
  Put(root / "run/clamav/clamd.pid", std::to_string(getpid()) + "\n");
  Put(root / "usr/sbin/ufw", "");
  Put(root / "etc/ufw/ufw.conf", "ENABLED=yes\n");
  Put(root / "usr/sbin/firewalld", "");
  Put(root / "etc/systemd/system/multi-user.target.wants/firewalld.service", "");

  TLinuxProbes probes(root.string());
  struct {
    const char* Class;
    int Index;
    const char* Property;
    const char* Value;
  } cases[] = {
      {WSC_ANTIVIRUS, 0, "displayName", "ClamAV"},   {WSC_ANTIVIRUS, 0, "versionNumber", "1.0.7"},
      {WSC_ANTIVIRUS, 0, "productUptoDate", "TRUE"}, {WSC_ANTIVIRUS, 0, "enabled", ""},
      {WSC_FIREWALL, 0, "displayName", "nftables"},  {WSC_FIREWALL, 0, "enabled", "FALSE"},
      {WSC_FIREWALL, 1, "displayName", "ufw"},       {WSC_FIREWALL, 1, "enabled", "TRUE"},
      {WSC_FIREWALL, 2, "displayName", "firewalld"}, {WSC_FIREWALL, 2, "enabled", "TRUE"},
  };
  for (const char* ns : {WSC_NAMESPACE1, WSC_NAMESPACE2}) {
    EXPECT_EQ(probes.WSCInstCount(ns, WSC_ANTIVIRUS), 1);
    EXPECT_EQ(probes.WSCInstCount(ns, WSC_FIREWALL), 3);
    for (const auto& c : cases)
      EXPECT_EQ(probes.WSCGetAttr(ns, c.Class, c.Property, c.Index), c.Value)
          << c.Class << c.Index << c.Property;
  }
  auto platform = probes.PlatformFirewall();
  ASSERT_TRUE(platform);
  EXPECT_EQ(platform->Name, "ufw");
  EXPECT_TRUE(platform->Enabled);

  // Old signatures or a daemon that does not run: not up to date.
  fs::last_write_time(root / "var/lib/clamav/daily.cvd",
                      fs::file_time_type::clock::now() - std::chrono::hours(24 * 8));
  EXPECT_EQ(probes.WSCGetAttr(WSC_NAMESPACE1, WSC_ANTIVIRUS, "productUptoDate", 0), "FALSE");
  fs::last_write_time(root / "var/lib/clamav/daily.cvd", fs::file_time_type::clock::now());
  Put(root / "run/clamav/clamd.pid", "0\n");
  EXPECT_EQ(probes.WSCGetAttr(WSC_NAMESPACE1, WSC_ANTIVIRUS, "productUptoDate", 0), "FALSE");
}

// Pipes where the product table expects files: read without blocking, so verification goes on
// with the products found as not running or not enabled.
TEST(Probes, PipesInPlaceOfFilesDoNotBlock) {
  fs::path root = fs::path(TestRoot()) / "probes-fifo";
  fs::remove_all(root);
  Put(root / "usr/sbin/clamd", "");
  Put(root / "usr/sbin/ufw", "");
  for (const char* path : {"var/lib/dpkg/status", "run/clamav/clamd.pid", "etc/ufw/ufw.conf"}) {
    fs::create_directories((root / path).parent_path());
    ASSERT_EQ(mkfifo((root / path).c_str(), 0600), 0) << path;
  }
  TLinuxProbes probes(root.string());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(probes.WSCGetAttr(WSC_NAMESPACE1, WSC_ANTIVIRUS, "productUptoDate", 0), "FALSE");
  EXPECT_EQ(probes.WSCGetAttr(WSC_NAMESPACE1, WSC_FIREWALL, "displayName", 0), "ufw");
  EXPECT_EQ(probes.WSCGetAttr(WSC_NAMESPACE1, WSC_FIREWALL, "enabled", 0), "FALSE");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace vantrel::test
