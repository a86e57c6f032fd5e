#include "session/ClientChecksConsent.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "diag/DebugLog.h"
#include "diag/UniqueFd.h"
#include "platform/Settings.h"
#include "session/FileNames.h"

namespace vantrel {

namespace {

constexpr const char* kInstalled = "installed";
constexpr const char* kDeclined = "declined";

}  // namespace

bool IsWindowsInstaller(const std::string& prmName) {
  // As the cabinet test of the RDP package: the last three letters, without the dot.
  return EndsWithText(prmName, "MSI") || EndsWithText(prmName, "EXE") ||
         EndsWithText(prmName, "CAB");
}

TInstallerConsent::TInstallerConsent(std::string prmFile) : m_File(std::move(prmFile)) {}

std::string TInstallerConsent::DefaultFile() {
  return ConfigDir() + "/installers";
}

TInstallerConsent::TDecision TInstallerConsent::Recall(const std::string& prmOffer) const {
  std::ifstream in(m_File);
  std::string line;
  TDecision found = TDecision::Unasked;
  while (std::getline(in, line)) {
    size_t tab = line.find('\t');
    if (tab == std::string::npos || line.compare(tab + 1, std::string::npos, prmOffer) != 0)
      continue;
    // The last word on an offer holds.
    const std::string word = line.substr(0, tab);
    if (word == kInstalled) found = TDecision::Installed;
    if (word == kDeclined) found = TDecision::Declined;
  }
  return found;
}

bool TInstallerConsent::Remember(const std::string& prmOffer, TDecision prmDecision) const {
  if (prmDecision == TDecision::Unasked || prmOffer.find('\n') != std::string::npos) return false;
  const size_t slash = m_File.find_last_of('/');
  if (slash != std::string::npos) mkdir(m_File.substr(0, slash).c_str(), 0700);
  TUniqueFd fd(open(m_File.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  const std::string line =
      std::string(prmDecision == TDecision::Installed ? kInstalled : kDeclined) + "\t" + prmOffer +
      "\n";
  // A file made by hand keeps no wider mode either.
  if (!fd.Valid() || fchmod(fd.Get(), 0600) != 0 ||
      write(fd.Get(), line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    WriteDebugLog("TInstallerConsent - cannot keep the answer in " + m_File);
    return false;
  }
  return true;
}

}  // namespace vantrel
