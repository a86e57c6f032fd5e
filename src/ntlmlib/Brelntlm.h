// The C interface of libBrelntlm.so: its three entry points, which the library compiles against
// and every caller's dlsym type comes from. The caller owns one context pointer and passes its
// address to every call; a negotiate call opens the context, the authenticate call uses it, and
// ntlm_ctx_free closes it. Texts are NUL-terminated 8-bit strings (UTF-8 here). Each output
// buffer must hold 4,097 bytes: the Base64 message, ready to follow "NTLM ", and its NUL.
// One handshake per context; a context is used by one thread at a time.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define NTLM_API __attribute__((visibility("default")))

enum {
  NTLM_OK = 0,
  NTLM_E_ARGUMENT = -1,    // a NULL pointer where one is needed, or an unknown option
  NTLM_E_NO_CREDS = -2,    // no text given and no usable entry in $NTLM_USER_FILE
  NTLM_E_CHALLENGE = -3,   // the challenge is not Base64 of a type-2 message
  NTLM_E_TOO_LONG = -4,    // the message would not fit the 4,096 characters
  NTLM_E_NO_CONTEXT = -5,  // authenticate without a negotiate first
  NTLM_E_INTERNAL = -6,    // randomness or hashing failed
};

// The only authenticate option: NTLMv2 and LMv2 responses.
#define NTLM_OPTION_NTLMV2 2

// domain, user and password all NULL: the logged-on user, read from the file $NTLM_USER_FILE
// names. Otherwise the given texts (a NULL one counts as empty); a user "DOMAIN\name" with no
// domain gives both. server is the proxy host; it is not part of the message. An open context
// in *ctx is closed first. reserved must be 0.
typedef int TNtlmBuildNegotiateFunc(void** ctx, const char* server, const char* domain,
                                    const char* user, const char* password, char* out,
                                    int reserved);
// challenge: the Base64 text after "NTLM " in the proxy's reply.
typedef int TNtlmBuildAuthFunc(void** ctx, const char* challenge, int option, char* out,
                               int reserved);
// Wipes and frees the context and sets *ctx to NULL; nothing to do for a NULL context.
typedef int TNtlmCtxFreeFunc(void** ctx);

// What a caller's dlsym result is cast to.
typedef TNtlmBuildNegotiateFunc* TNtlmBuildNegotiate;
typedef TNtlmBuildAuthFunc* TNtlmBuildAuth;
typedef TNtlmCtxFreeFunc* TNtlmCtxFree;

NTLM_API TNtlmBuildNegotiateFunc ntlm_build_negotiate_msg;
NTLM_API TNtlmBuildAuthFunc ntlm_build_auth_msg;
NTLM_API TNtlmCtxFreeFunc ntlm_ctx_free;

#ifdef __cplusplus
}
#endif
