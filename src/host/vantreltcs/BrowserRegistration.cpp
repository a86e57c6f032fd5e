#include "host/vantreltcs/BrowserRegistration.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "host/vantreltcs/HostOptions.h"
#include "host/vantreltcs/PageProtocol.h"
#include "platform/KnownHosts.h"

namespace vantrel::host {

namespace {

std::string Env(const char* prmName) {
  const char* v = std::getenv(prmName);
  return v != nullptr ? v : "";
}

const std::string kManifestFile = std::string("/") + kNativeHostName + ".json";

}  // namespace

std::string NativeHostManifest(TManifestKind prmKind, const std::string& prmProgram) {
  TJson m = {{"name", kNativeHostName},
             {"description", "Vantrel thin client"},
             {"path", prmProgram},
             {"type", "stdio"}};
  if (prmKind == TManifestKind::Chromium)
    m["allowed_origins"] = {kChromiumExtensionOrigin};
  else
    m["allowed_extensions"] = {kFirefoxExtensionId};
  return m.dump(2) + "\n";
}

std::vector<TManifestPlace> UserManifestPlaces() {
  const std::string home = Env("HOME");
  if (home.empty()) return {};
  std::string config = Env("XDG_CONFIG_HOME");
  if (config.empty()) config = home + "/.config";
  return {{TManifestKind::Chromium, config + "/chromium/NativeMessagingHosts" + kManifestFile},
          {TManifestKind::Chromium, config + "/google-chrome/NativeMessagingHosts" + kManifestFile},
          {TManifestKind::Firefox, home + "/.mozilla/native-messaging-hosts" + kManifestFile}};
}

int RegisterBrowsers(std::FILE* prmOut, std::FILE* prmErr) {
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) {
    std::fprintf(prmErr, "vantreltcs: cannot find the program's own path: %s\n",
                 ec.message().c_str());
    return 1;
  }
  const std::vector<TManifestPlace> places = UserManifestPlaces();
  if (places.empty()) {
    std::fputs("vantreltcs: HOME is not set; nothing registered\n", prmErr);
    return 1;
  }
  for (const TManifestPlace& p : places) {
    std::filesystem::create_directories(std::filesystem::path(p.Path).parent_path(), ec);
    // Browsers read these as the user; nothing in them is secret.
    if (ec || !ReplaceFileAtomically(p.Path, NativeHostManifest(p.Kind, program.string()), 0644)) {
      std::fprintf(prmErr, "vantreltcs: cannot write %s\n", p.Path.c_str());
      return 1;
    }
    std::fprintf(prmOut, "wrote %s\n", p.Path.c_str());
  }
  std::fprintf(prmOut, "the browsers now start %s for the Vantrel extension\n",
               program.string().c_str());
  return 0;
}

}  // namespace vantrel::host
