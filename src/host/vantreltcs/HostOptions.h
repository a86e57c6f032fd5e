// The host's command line and the page's start parameters it assembles: the property bag is the
// --params file's NAME=VALUE lines, then those of the browser's session file or vantrel: URL
// (SessionSource.h), then each --param in order; a later value replaces an earlier.
#pragma once

#include <string>
#include <vector>

#include "control/PropertyBag.h"

namespace vantrel::host {

// Stdio: JSON lines on standard input and output. Native: the browser started the program as its
// native-messaging host (NativeOpen.h), with the browser's own arguments.
enum class TApiKind { None, Stdio, Native };
enum class TUiKind { Gtk, Terminal, None };

struct THostOptions {
  TMapPropertyBag Bag;
  TApiKind Api = TApiKind::None;
  TUiKind Ui = TUiKind::Terminal;
  bool Help = false;
  // --register-browsers: write the per-user native-messaging manifests and end.
  bool RegisterBrowsers = false;
  // With TApiKind::Native: which browser started the program and for which extension (the
  // extension's origin for Chromium, its ID for Firefox).
  std::string Browser;
  std::string Caller;
};

// The native-messaging host's name, the extensions allowed to start it.
constexpr char kNativeHostName[] = "com.vantrel.tcs";
constexpr char kChromiumExtensionOrigin[] = "chrome-extension://iehefmjbcgmminjmdjnjkpcclofglcof/";
constexpr char kFirefoxExtensionId[] = "tcs@vantrel.example";

// Parses the program's arguments (without the program name), reads the --params file and, unless
// --help was given, consumes the session file or URL (one argument not starting with '-').
// Without --ui and --api, a display (prmHasDisplay) makes the window the default.
// The browsers' own command lines select TApiKind::Native: Chromium's
// "chrome-extension://ID/ [--parent-window=N]" and Firefox's "/path/to/MANIFEST.json ID";
// nothing else is read from them.
// Raises EBaseException with a message for the user on any mistake: unknown option, missing
// value, an unreadable file, a line that is not NAME=VALUE, a refused session file or URL.
THostOptions ParseHostOptions(const std::vector<std::string>& prmArgs, bool prmHasDisplay = false);
// DISPLAY or WAYLAND_DISPLAY is set.
bool HasDisplay();

// Adds the NAME=VALUE lines of prmText to prmBag. Names and values are trimmed (a file is
// written by hand); empty lines and lines starting with '#' are skipped; the value is everything
// after the first '='. prmWhere names the
// source in error messages ("FILE line N").
void AddParamLines(const std::string& prmText, const std::string& prmWhere,
                   TMapPropertyBag& prmBag);

// One "NAME=VALUE" parameter; the name (trimmed) may not be empty. The value is kept exactly as
// given unless prmTrimValue.
void AddParam(const std::string& prmText, const std::string& prmWhere, TMapPropertyBag& prmBag,
              bool prmTrimValue);

const char* HostUsage();

}  // namespace vantrel::host
