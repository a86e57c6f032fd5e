// Owned OpenSSL handles: each is freed exactly once, by whoever holds it last.
#pragma once

#include <openssl/ssl.h>

#include <memory>

namespace vantrel {

struct TSslFree {
  void operator()(SSL_CTX* prmCtx) const { SSL_CTX_free(prmCtx); }
  void operator()(SSL* prmSsl) const { SSL_free(prmSsl); }
};

using TSslCtxPtr = std::unique_ptr<SSL_CTX, TSslFree>;
using TSslPtr = std::unique_ptr<SSL, TSslFree>;

}  // namespace vantrel
