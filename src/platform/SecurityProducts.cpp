// The Linux security products the probes know, and how each is found.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>

#include "platform/ProbesLinux.h"

namespace vantrel {

namespace {

namespace fs = std::filesystem;

constexpr auto kSignatureMaxAge = std::chrono::hours(24 * 7);

bool Exists(const std::string& prmPath) {
  std::error_code ec;
  return fs::exists(prmPath, ec);
}

// The package database of a large installation stays far below this.
constexpr size_t kMaxPackageList = 64u << 20;

// Up to prmMax bytes of a regular file. Opened without blocking and refused unless regular, so
// a pipe or device placed where a product keeps its state cannot hold verification.
std::string ReadFile(const std::string& prmPath, size_t prmMax = 1 << 16) {
  int fd = open(prmPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    text.resize(std::min(prmMax, static_cast<size_t>(st.st_size)));
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = read(fd, text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    text.resize(done);
  }
  close(fd);
  return text;
}

// The version of an installed package in the Debian package list, empty when unknown.
std::string PackageVersion(const std::string& prmPackageList, const std::string& prmPackage) {
  std::istringstream in(prmPackageList);
  std::string line;
  bool inPackage = false;
  while (std::getline(in, line)) {
    if (line.rfind("Package: ", 0) == 0) inPackage = line.substr(9) == prmPackage;
    if (inPackage && line.rfind("Version: ", 0) == 0) return line.substr(9);
  }
  return {};
}

bool UnitEnabled(const std::string& prmRoot, const std::string& prmUnit) {
  for (const char* target : {"multi-user.target.wants", "sysinit.target.wants"})
    if (Exists(prmRoot + "/etc/systemd/system/" + target + "/" + prmUnit)) return true;
  return false;
}

bool ProcessAlive(const std::string& prmPidFile) {
  std::istringstream in(ReadFile(prmPidFile, 32));
  long pid = 0;
  return (in >> pid) && pid > 0 && kill(static_cast<pid_t>(pid), 0) == 0;
}

bool SignaturesFresh(const std::string& prmDir) {
  std::error_code ec;
  auto newest = fs::file_time_type::min();
  for (fs::directory_iterator it(prmDir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string ext = it->path().extension().string();
    if (ext == ".cvd" || ext == ".cld" || ext == ".cud")
      newest = std::max(newest, it->last_write_time(ec));
  }
  return newest != fs::file_time_type::min() &&
         fs::file_time_type::clock::now() - newest < kSignatureMaxAge;
}

bool AnyExists(const std::string& prmRoot, std::initializer_list<const char*> prmPaths) {
  for (const char* path : prmPaths)
    if (Exists(prmRoot + path)) return true;
  return false;
}

struct TKnownProduct {
  bool Antivirus;
  const char* Name;
  const char* Package;
  std::initializer_list<const char*> Programs;
  bool (*Good)(const std::string& prmRoot);
};

const TKnownProduct kProducts[] = {
    {true,
     "ClamAV",
     "clamav",
     {"/usr/sbin/clamd", "/usr/bin/clamscan"},
     [](const std::string& r) {
       return ProcessAlive(r + "/run/clamav/clamd.pid") && SignaturesFresh(r + "/var/lib/clamav");
     }},
    {false,
     "nftables",
     "nftables",
     {"/usr/sbin/nft"},
     [](const std::string& r) { return UnitEnabled(r, "nftables.service"); }},
    {false,
     "iptables",
     "iptables",
     {"/usr/sbin/iptables"},
     [](const std::string& r) {
       return UnitEnabled(r, "netfilter-persistent.service") || UnitEnabled(r, "iptables.service");
     }},
    {false,
     "ufw",
     "ufw",
     {"/usr/sbin/ufw"},
     [](const std::string& r) {
       return ("\n" + ReadFile(r + "/etc/ufw/ufw.conf")).find("\nENABLED=yes") != std::string::npos;
     }},
    {false,
     "firewalld",
     "firewalld",
     {"/usr/sbin/firewalld"},
     [](const std::string& r) { return UnitEnabled(r, "firewalld.service"); }},
};

}  // namespace

std::vector<TSecurityProduct> FindSecurityProducts(const std::string& prmRoot) {
  std::vector<TSecurityProduct> found;
  const std::string packages = ReadFile(prmRoot + "/var/lib/dpkg/status", kMaxPackageList);
  for (const TKnownProduct& known : kProducts) {
    std::string version = PackageVersion(packages, known.Package);
    if (version.empty() && !AnyExists(prmRoot, known.Programs)) continue;
    found.push_back({known.Antivirus, known.Name, version, known.Good(prmRoot)});
  }
  return found;
}

}  // namespace vantrel
