/* C interface of libjsproxy.so, the proxy auto-configuration script engine: its two exports.
 * The library compiles against these declarations; callers load it with dlopen by file name and
 * cast each dlsym result to the pointer type below. Texts are 8-bit, NUL-terminated. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Network callbacks the script's helpers are built on, in this order. Results of the two
 * address calls: 0, or a platform error code (122 buffer too small, 12007 name not resolved,
 * 12004 internal, 8 out of memory); *size is in/out (bytes, with the NUL). */
typedef struct {
  int (*IsResolvable)(const char* host);
  uint32_t (*GetIPAddress)(char* address, uint32_t* size);
  uint32_t (*ResolveHostName)(const char* host, char* address, uint32_t* size);
  int (*IsInNet)(const char* address, const char* pattern, const char* mask);
} TAutoProxyHelperFunctions;

typedef struct {
  uint32_t dwStructSize;
  const char* lpszScriptBuffer;
  uint32_t dwScriptBufferSize;
} TAutoProxyScriptBuffer;

/* Loads the script from the file (or from the buffer when the file is null) and keeps the
 * callbacks; a null callback table uses the engine's own network functions. Scripts larger
 * than 1 MiB are refused. 1 on success, 0 otherwise. */
typedef int TInternetInitializeAutoProxyDllFunc(
    uint32_t dwVersion, const char* lpszDownloadedTempFile, const char* lpszMime,
    const TAutoProxyHelperFunctions* lpAutoProxyCallbacks,
    const TAutoProxyScriptBuffer* lpAutoProxyScriptBuffer);

/* Runs FindProxyForURL(url, host) of the loaded script. On success (1) *lplpszProxyHostName is
 * the answer text, allocated with malloc (the caller frees it with free), and
 * *lpdwProxyHostNameLength its length with the NUL. A script that throws, does not answer a
 * string, runs longer than 4 seconds or uses more than 32 MiB fails (0). */
typedef int TInternetGetProxyInfoFunc(const char* lpszUrl, uint32_t dwUrlLength,
                                      const char* lpszUrlHostName, uint32_t dwUrlHostNameLength,
                                      char** lplpszProxyHostName,
                                      uint32_t* lpdwProxyHostNameLength);

typedef TInternetInitializeAutoProxyDllFunc* TInternetInitializeAutoProxyDll;
typedef TInternetGetProxyInfoFunc* TInternetGetProxyInfo;

#define JSPROXY_API __attribute__((visibility("default")))

JSPROXY_API TInternetInitializeAutoProxyDllFunc InternetInitializeAutoProxyDll;
JSPROXY_API TInternetGetProxyInfoFunc InternetGetProxyInfo;

#ifdef __cplusplus
}
#endif
