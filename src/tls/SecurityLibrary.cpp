// Process-wide state of the secure channel: the single-load rule and the stream sizes that every
// channel reads.
#include <openssl/ssl.h>

#include <atomic>

#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "tls/sspi.h"

namespace vantrel {

TStreamSizes g_StreamSizes;

namespace {
std::atomic<bool> g_SecLibLoaded{false};
}

void ResetStreamSizes() {
  g_StreamSizes = TStreamSizes();
}

void LoadSecurityLibrary() {
  bool expected = false;
  if (!g_SecLibLoaded.compare_exchange_strong(expected, true))
    throw EBaseException("Security library is already loaded");
  // OpenSSL initialises itself once per process; asking here makes a broken installation fail
  // where the library is loaded rather than inside the first handshake.
  if (OPENSSL_init_ssl(0, nullptr) != 1) {
    g_SecLibLoaded = false;
    throw EBaseException::CreateFmt("Failed to load security library %s", "libssl");
  }
  WriteDebugLog("LoadSecurityLibrary - " + std::string(OpenSSL_version(OPENSSL_VERSION)));
}

void UnloadSecurityLibrary() {
  g_SecLibLoaded = false;
}

}  // namespace vantrel
