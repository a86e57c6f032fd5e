#include "proxy/ProxyUtils.h"

// Process-wide proxy state shared by the CONNECT procedures, discovery and the library
// bindings; used from one tunnel opener at a time.
namespace vantrel {

std::string g_ProxyUser;
std::string g_ProxyPassword;
std::string g_ProxyDomain;
void* g_ctx = nullptr;
bool g_NtlmCtxActive = false;

}  // namespace vantrel
