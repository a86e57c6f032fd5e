#include "platform/RdpClient.h"

#include <cctype>

#include "diag/DebugLog.h"
#include "platform/ProcessSpawn.h"
#include "platform/Settings.h"

namespace vantrel {

namespace {

constexpr int kVersionProbeMs = 5000;

}  // namespace

std::string RdpClientProgram() {
  return ReadSettingOrEnv("RdpClient", "VANTREL_RDP_CLIENT").value_or("vantrel-mstsc");
}

std::string RdpSystemDir() {
  return ReadSettingOrEnv("SystemDir", "VANTREL_SYSTEM_DIR").value_or("/usr/lib/freerdp2");
}

bool TRdpClient::CanCreate() {
  return !FindProgram(RdpClientProgram()).empty();
}

std::string TRdpClient::VersionText() {
  std::string out;
  if (!RunCaptureOutput({"xfreerdp", "--version"}, kVersionProbeMs, out)) {
    WriteDebugLog("TRdpClient.VersionText - xfreerdp did not answer");
    return std::string();
  }
  return RdpVersionFromFreeRdp(out);
}

std::string RdpVersionFromFreeRdp(const std::string& prmOutput) {
  const std::string key = "version ";
  size_t pos = prmOutput.find(key);
  if (pos == std::string::npos) return std::string();
  pos += key.size();
  size_t end = pos;
  while (end < prmOutput.size() &&
         (std::isdigit(static_cast<unsigned char>(prmOutput[end])) || prmOutput[end] == '.'))
    ++end;
  std::string version = prmOutput.substr(pos, end - pos);
  if (version.empty() || !std::isdigit(static_cast<unsigned char>(version[0])))
    return std::string();
  int major = 0;
  for (size_t i = 0; i < version.size() && version[i] != '.' && major < 1000; ++i)
    major = major * 10 + (version[i] - '0');
  return (major >= 2 ? "10.0." : "7.0.") + version;
}

}  // namespace vantrel
