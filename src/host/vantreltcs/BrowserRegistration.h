// The browsers' native-messaging manifests, which let the Vantrel extension start this program:
// Chromium and Google Chrome name the extension's origin, Firefox the extension's ID. The
// package installs them system-wide; --register-browsers writes them for one user.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace vantrel::host {

enum class TManifestKind { Chromium, Firefox };

// The manifest for prmProgram (an absolute path), as JSON text.
std::string NativeHostManifest(TManifestKind prmKind, const std::string& prmProgram);

struct TManifestPlace {
  TManifestKind Kind;
  std::string Path;
};

// Where the user's browsers look: $XDG_CONFIG_HOME (or ~/.config)/chromium and /google-chrome,
// and ~/.mozilla. Empty when HOME is not set.
std::vector<TManifestPlace> UserManifestPlaces();

// Writes every user manifest for the running program (/proc/self/exe), telling prmOut what was
// written; 0, or 1 with the reason on prmErr.
int RegisterBrowsers(std::FILE* prmOut, std::FILE* prmErr);

}  // namespace vantrel::host
