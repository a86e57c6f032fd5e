#include "proxylib/SelfPath.h"

#include <dlfcn.h>

namespace vantrel::proxylib {

std::string SelfPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&SelfPath), &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

std::string SelfDir() {
  std::string path = SelfPath();
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace vantrel::proxylib
