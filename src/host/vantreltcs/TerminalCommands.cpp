#include "host/vantreltcs/TerminalCommands.h"

#include <sstream>
#include <vector>

#include "diag/TextCodecs.h"

namespace vantrel::host {

namespace {

// The connection settings the control keeps, as its members name them, with what they take.
struct TSetting {
  const char* Member;
  const char* Values;
};
const TSetting kSettings[] = {
    {"ScreenWidth", "-1 full screen, or pixels"},
    {"ScreenHeight", "-1 full screen, or pixels"},
    {"SpanMonitors", "0 or 1"},
    {"ColorDepth", "0 server's, 1 256 colours, 2 16 bits, 3 24 bits, 4 32 bits"},
    {"SoundRedir", "0 here, 1 on the server, 2 none"},
    {"RedirDrives", "0 or 1"},
    {"RedirPrinters", "0 or 1"},
    {"RedirPorts", "0 or 1"},
    {"RedirSmartCards", "0 or 1"},
    {"RedirClipboard", "0 or 1"},
    {"RedirPOSDev", "0 or 1"},
    {"EnableBitmapCaching", "1 disables bitmap caching"},
    {"EnableDesktopWallpaper", "1 disables the wallpaper"},
    {"EnableFullDrag", "1 disables full-window drag"},
    {"EnableMenuAnim", "1 disables menu animation"},
    {"EnableTheme", "1 disables themes"},
    {"ConnectToConsole", "0 or 1"},
};

std::string Failed(const TDispResult& prmRes) {
  return "failed: " + (prmRes.Error.empty() ? std::string("error") : prmRes.Error) + "\n";
}

int GetInt(const TDispatchTable& prmTable, const char* prmMember) {
  TDispResult r = prmTable.Invoke(prmMember, TDispKind::PropertyGet, {});
  return r.Ok() && r.Value.Type() == TVarType::I4 ? r.Value.AsI4() : -1;
}

std::string List(const TDispatchTable& prmTable) {
  int count = GetInt(prmTable, "RegDesktopsCount");
  if (count <= 0) return "no desktops (yet)\n";
  std::string out;
  for (int i = 0; i < count; ++i) {
    TDispResult r = prmTable.Invoke("GetRegDesktop", TDispKind::Method, {i});
    if (!r.Ok() || r.Outs.size() != 3) return out + Failed(r);
    out += " " + std::to_string(i) + "  " + r.Outs[0].AsBStr() + "  (" + r.Outs[1].AsBStr();
    int days = r.Outs[2].AsI4();
    if (days > 0) out += ", expires in " + std::to_string(days) + " day(s)";
    out += ")\n";
  }
  return out;
}

std::string Launch(const std::vector<std::string>& prmWords, const TDispatchTable& prmTable) {
  int index = -1;
  int count = GetInt(prmTable, "RegDesktopsCount");
  if (prmWords.size() != 2 || !TryStrToInt(prmWords[1], index))
    return "usage: launch N (a number from the list)\n";
  if (index < 0 || index >= count)
    return count > 0
               ? "no desktop " + prmWords[1] + "; choose 0 to " + std::to_string(count - 1) + "\n"
               : std::string("no desktops (yet)\n");
  TDispResult r = prmTable.Invoke("LaunchDesktop", TDispKind::Method, {index, 1});
  return r.Ok() ? "launching desktop " + prmWords[1] + "\n" : Failed(r);
}

const TSetting* FindSetting(const std::string& prmName) {
  for (const TSetting& s : kSettings)
    if (SameText(prmName, s.Member)) return &s;
  return nullptr;
}

std::string Settings(const std::vector<std::string>& prmWords, const TDispatchTable& prmTable) {
  if (prmWords.size() == 1) {
    std::string out;
    for (const TSetting& s : kSettings)
      out += " " + std::string(s.Member) + " = " + std::to_string(GetInt(prmTable, s.Member)) +
             "   (" + s.Values + ")\n";
    return out;
  }
  const TSetting* s = FindSetting(prmWords[1]);
  int value = 0;
  if (s == nullptr) return "no setting " + prmWords[1] + "; \"settings\" lists them\n";
  if (prmWords.size() != 3 || !TryStrToInt(prmWords[2], value))
    return std::string("usage: settings ") + s->Member + " VALUE (" + s->Values + ")\n";
  TDispResult r = prmTable.Invoke(s->Member, TDispKind::PropertyPut, {value});
  if (!r.Ok()) return Failed(r);
  // Read back: the control ignores values out of range and settings the server locks.
  return " " + std::string(s->Member) + " = " + std::to_string(GetInt(prmTable, s->Member)) + "\n";
}

}  // namespace

const char* TerminalCommandsHelp() {
  return "commands: list | launch N | settings [NAME VALUE] | quit | help\n";
}

TCommandResult RunTerminalCommand(const std::string& prmLine, const TDispatchTable& prmTable,
                                  std::string& prmOut) {
  std::istringstream in(prmLine);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  prmOut.clear();
  if (words.empty()) return TCommandResult::Continue;
  std::string verb = LowerCase(words[0]);
  if (verb == "quit" || verb == "exit") return TCommandResult::Quit;
  if (verb == "list" && words.size() == 1)
    prmOut = List(prmTable);
  else if (verb == "launch")
    prmOut = Launch(words, prmTable);
  else if (verb == "settings")
    prmOut = Settings(words, prmTable);
  else if (verb == "help" || verb == "?")
    prmOut = TerminalCommandsHelp();
  else {
    std::string shown;
    for (char c : words[0].substr(0, 40)) shown += c > ' ' && c < 0x7f ? c : '?';
    prmOut = "unknown command \"" + shown + "\"; " + TerminalCommandsHelp();
  }
  return TCommandResult::Continue;
}

}  // namespace vantrel::host
