/* The C interface of libVantrelProxy.so, the proxy support library: its only three exports. The
 * library compiles against these declarations and every caller resolves them by name (dlsym) as
 * the pointer types below, so a changed signature fails the build on both sides.
 *
 * Texts are NUL-terminated UTF-16 in buffers the caller owns (the control passes 261 characters
 * for each output); nothing is allocated on one side and freed on the other. Results are 1 (true)
 * or 0 (false); only the low byte counts. Any thread; calls may overlap. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#else
#include <uchar.h>
#endif

#define VANTREL_PROXY_API __attribute__((visibility("default")))

/* The proxy the desktop's settings give for host (NULL: a fixed private address); browser is the
 * browser kind, 0 from the control. */
typedef int32_t TGetProxyInformationFunc(const char16_t* host, uint32_t browser, char16_t* proxy);
/* The saved proxy credentials; the buffers stay untouched when there are none. */
typedef int32_t TGetUserProxyAuthInfoFunc(char16_t* user, char16_t* password, char16_t* domain);
/* Saves the credentials, protected for this user; always 1. */
typedef int32_t TSaveUserProxyAuthInfoFunc(const char16_t* user, const char16_t* password,
                                           const char16_t* domain);

typedef TGetProxyInformationFunc* TGetProxyInformation;
typedef TGetUserProxyAuthInfoFunc* TGetUserProxyAuthInfo;
typedef TSaveUserProxyAuthInfoFunc* TSaveUserProxyAuthInfo;

VANTREL_PROXY_API TGetProxyInformationFunc GetProxyInformation;
VANTREL_PROXY_API TGetUserProxyAuthInfoFunc GetUserProxyAuthInfo;
VANTREL_PROXY_API TSaveUserProxyAuthInfoFunc SaveUserProxyAuthInfo;

#ifdef __cplusplus
}
#endif
