#include "host/vantreltcs/HostOptions.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "host/vantreltcs/SessionSource.h"

namespace vantrel::host {

namespace {

// Start parameter files are a few hundred bytes; anything far larger is a wrong file.
constexpr std::streamoff kMaxParamsFile = 1 << 20;

std::string ReadParamsFile(const std::string& prmPath) {
  std::ifstream in(prmPath, std::ios::binary);
  if (!in) throw EBaseException("cannot read parameter file " + prmPath);
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxParamsFile)
    throw EBaseException("parameter file " + prmPath + " is not a parameter file (too large)");
  in.seekg(0);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool StartsWith(const std::string& prmText, const char* prmPrefix) {
  return prmText.rfind(prmPrefix, 0) == 0;
}

bool EndsWith(const std::string& prmText, const std::string& prmSuffix) {
  return prmText.size() >= prmSuffix.size() &&
         prmText.compare(prmText.size() - prmSuffix.size(), prmSuffix.size(), prmSuffix) == 0;
}

// The browser's command line for its native-messaging host, or false.
bool ParseBrowserStart(const std::vector<std::string>& prmArgs, THostOptions& prmOptions) {
  if (prmArgs.empty() || prmArgs.size() > 2) return false;
  const std::string& first = prmArgs[0];
  if (StartsWith(first, "chrome-extension://")) {
    // Chromium may add the calling window's handle; it means nothing here.
    if (prmArgs.size() == 2 && !StartsWith(prmArgs[1], "--parent-window=")) return false;
    prmOptions.Browser = "Chromium";
  } else if (prmArgs.size() == 2 && StartsWith(first, "/") && EndsWith(first, ".json") &&
             !prmArgs[1].empty() && prmArgs[1][0] != '-') {
    prmOptions.Browser = "Firefox";
  } else {
    return false;
  }
  prmOptions.Caller = prmOptions.Browser == "Firefox" ? prmArgs[1] : first;
  prmOptions.Api = TApiKind::Native;
  prmOptions.Ui = TUiKind::None;
  return true;
}

}  // namespace

void AddParam(const std::string& prmText, const std::string& prmWhere, TMapPropertyBag& prmBag,
              bool prmTrimValue) {
  size_t eq = prmText.find('=');
  std::string name = eq == std::string::npos ? std::string() : Trim(prmText.substr(0, eq));
  if (name.empty())
    // Not repeated: without its "=" the text may be nothing but the value (the cookie).
    throw EBaseException(prmWhere + ": expected NAME=VALUE");
  std::string value = prmText.substr(eq + 1);
  prmBag.Set(name, prmTrimValue ? Trim(value) : value);
}

void AddParamLines(const std::string& prmText, const std::string& prmWhere,
                   TMapPropertyBag& prmBag) {
  std::istringstream lines(prmText);
  std::string line;
  for (int no = 1; std::getline(lines, line); ++no) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    AddParam(t, prmWhere + " line " + std::to_string(no), prmBag, true);
  }
}

bool HasDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && *v != '\0') return true;
  }
  return false;
}

THostOptions ParseHostOptions(const std::vector<std::string>& prmArgs, bool prmHasDisplay) {
  THostOptions o;
  if (ParseBrowserStart(prmArgs, o)) return o;
  bool uiGiven = false;
  std::string paramsFile, session;
  std::vector<std::string> params;
  for (size_t i = 0; i < prmArgs.size(); ++i) {
    const std::string& a = prmArgs[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 >= prmArgs.size()) throw EBaseException(a + " needs a value");
      return prmArgs[++i];
    };
    if (a == "--params") {
      paramsFile = value();
    } else if (a == "--param") {
      params.push_back(value());
    } else if (a == "--api") {
      if (value() != "stdio") throw EBaseException("--api knows only stdio");
      o.Api = TApiKind::Stdio;
    } else if (a == "--ui") {
      const std::string& v = value();
      uiGiven = true;
      if (v == "gtk")
        o.Ui = TUiKind::Gtk;
      else if (v == "terminal")
        o.Ui = TUiKind::Terminal;
      else if (v == "none")
        o.Ui = TUiKind::None;
      else
        throw EBaseException("--ui must be gtk, terminal or none");
    } else if (a == "--help" || a == "-h") {
      o.Help = true;
    } else if (a == "--register-browsers") {
      o.RegisterBrowsers = true;
    } else if (!a.empty() && a[0] != '-') {
      if (!session.empty()) throw EBaseException("only one session file or URL may be given");
      session = a;
    } else {
      throw EBaseException("unknown option " + a);
    }
  }
  if (!uiGiven && o.Api == TApiKind::None && prmHasDisplay) o.Ui = TUiKind::Gtk;
  // The window is the user's only channel; a page drives the control without it.
  if (o.Ui == TUiKind::Gtk && o.Api != TApiKind::None)
    throw EBaseException("--ui gtk takes no --api");
  // The file first, whatever the order on the command line, so a --param always overrides it.
  if (!paramsFile.empty()) AddParamLines(ReadParamsFile(paramsFile), paramsFile, o.Bag);
  // Read (and so consumed) only once every option was accepted, and never for --help.
  if (!session.empty() && !o.Help) AddSessionSource(session, o.Bag);
  for (const std::string& p : params) AddParam(p, "--param", o.Bag, false);
  return o;
}

const char* HostUsage() {
  return "usage: vantreltcs [--params FILE] [--param NAME=VALUE]... [--api stdio]\n"
         "                  [--ui gtk|terminal|none] [SESSION.vantrel | vantrel:?NAME=VALUE&...]\n"
         "  Hosts the thin-client control as a portal page would. FILE holds NAME=VALUE lines\n"
         "  (# starts a comment); each --param follows and replaces an earlier value.\n"
         "  A session file or URL from the portal adds its parameters after FILE; the file\n"
         "  must be the user's own and is removed once read.\n"
         "  --api stdio   drive the control with JSON lines on standard input and output;\n"
         "                end of input releases the control and ends the program.\n"
         "  --ui gtk      show the control's form and dialogs in a window (default when a\n"
         "                display is present and no --api is given); closing it releases\n"
         "                the control and ends the program.\n"
         "  --ui terminal show the control's form and dialogs on the terminal (default\n"
         "                otherwise);\n"
         "  --ui none     no form; dialogs are answered over the page channel only.\n"
         "  The RDP client program is VANTREL_RDP_CLIENT, else RdpClient= in settings.ini,\n"
         "  else vantrel-mstsc.\n"
         "\n"
         "       vantreltcs --register-browsers\n"
         "  Lets the Vantrel browser extension start this program for the current user: writes\n"
         "  the native-messaging manifests of Chromium, Google Chrome and Firefox into the\n"
         "  user's browser folders, pointing at this program, prints them, and ends.\n"
         "  Started by the browser (chrome-extension://.../ or MANIFEST.json ID), the program\n"
         "  serves a portal page on an allowed origin: VANTREL_ALLOWED_PORTALS or\n"
         "  AllowedPortals= in settings.ini (origins separated by blanks), or one the user\n"
         "  allowed when asked.\n";
}

}  // namespace vantrel::host
