#include "platform/Registration.h"

#include <dlfcn.h>

#include <cerrno>

#include "diag/DebugLog.h"

namespace vantrel {

namespace {

// The entry takes no arguments; its result (an HRESULT) is deliberately ignored.
using TDllRegisterServer = long (*)();

// The library's own reason, for the log only: the box carries just the error number.
void LogLoaderError() {
  if (const char* e = dlerror()) WriteDebugLog(std::string("RegisterActiveXServer - ") + e);
}

void ReportFailure(IDialogs& prmDialogs, const std::string& prmText) {
  WriteDebugLog(prmText);
  prmDialogs.MessageBox(prmText, "VantrelTCS", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

bool RegisterActiveXServer(const std::string& prmPath, IDialogs& prmDialogs) {
  WriteDebugLog("Entering ActiveX registration");
  WriteDebugLog("Loading component");
  dlerror();
  errno = 0;
  void* lib = dlopen(prmPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    int err = errno;
    LogLoaderError();
    ReportFailure(prmDialogs, "Failed to load " + prmPath + " (" + std::to_string(err) + ")");
    return false;
  }
  WriteDebugLog("Getting registration method");
  dlerror();
  errno = 0;
  void* entry = dlsym(lib, "DllRegisterServer");
  if (entry == nullptr) {
    int err = errno;
    LogLoaderError();
    ReportFailure(prmDialogs, "Failed to locate registery method (" + std::to_string(err) + ")");
    dlclose(lib);
    return false;
  }
  WriteDebugLog("Calling registration method");
  reinterpret_cast<TDllRegisterServer>(entry)();
  WriteDebugLog("Registration Done");
  dlclose(lib);
  return true;
}

}  // namespace vantrel
