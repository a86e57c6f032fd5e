#include "citrix/CitrixClient.h"

#include <mutex>

#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

std::mutex g_ClientLock;  // guards g_ClientProgram only
std::string g_ClientProgram;

}  // namespace

void FindCitrixClient() {
  FindCitrixClient(SystemIcaClientSources());
}

void FindCitrixClient(const TIcaClientSources& prmSources) {
  std::string program = DetectfullClient(prmSources);
  {
    std::lock_guard<std::mutex> lock(g_ClientLock);
    g_ClientProgram = program;
  }
  WriteDebugLog("Citrix client location is " + IcaClientLocation(program));
}

bool XenAppClientInstalled() {
  WriteDebugLog("XenAppClientInstalled");
  return !CitrixClientProgram().empty();
}

std::string CitrixClientProgram() {
  std::lock_guard<std::mutex> lock(g_ClientLock);
  return g_ClientProgram;
}

std::string CitrixClientLocation() {
  return IcaClientLocation(CitrixClientProgram());
}

int GetICAMajVersion() {
  WriteDebugLog("GetICAMajVersion enter");
  std::string version = IcaClientVersionText(CitrixClientLocation());
  if (version.empty()) {
    WriteDebugLog("TICAClient is null");
    return 0;
  }
  WriteDebugLog("GetICAMajVersion:" + version);
  return ICAMajorFromVersion(version);
}

int ICAMajorFromVersion(const std::string& prmVersion) {
  size_t dot = prmVersion.find('.');
  int major = 0;
  if (dot == std::string::npos || !TryStrToInt(prmVersion.substr(0, dot), major)) return 0;
  return major;
}

}  // namespace vantrel
