// The user's word on installers the gateway offers. Such a file is a program from the network:
// it runs only when the user said yes to it, by name and source, and each offer (the URL and
// version) is put to the user once: the answer is kept per user, in a file only they can read.
// Windows installers and packages are never run here at all.
#pragma once

#include <string>

namespace vantrel {

// True for the names of Windows installers and packages: ending in "msi", "exe" or "cab", in
// any case.
bool IsWindowsInstaller(const std::string& prmName);

class TInstallerConsent {
 public:
  enum class TDecision { Unasked, Installed, Declined };

  // prmFile holds one "installed|declined<TAB>offer" line per offer answered.
  explicit TInstallerConsent(std::string prmFile);
  // The default place: ConfigDir()/installers.
  static std::string DefaultFile();

  TDecision Recall(const std::string& prmOffer) const;
  // Appends the decision (the folder is made with mode 0700, the file with 0600). False when it
  // could not be kept; the caller goes on, and the user is asked again next time.
  bool Remember(const std::string& prmOffer, TDecision prmDecision) const;

 private:
  std::string m_File;
};

}  // namespace vantrel
