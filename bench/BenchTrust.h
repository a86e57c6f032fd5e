// The benchmarks' gateways and clients agree on one key, as the tests' do: a key written once per
// run, shown by every reference gateway (in the process or started as a program) and pinned by
// every client as an administrator would, so no run stops at the certificate question.
#pragma once

#include <openssl/pem.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "tls/ServerTrust.h"

namespace vantrel::bench {

class TBenchGatewayKey {
 public:
  TBenchGatewayKey() {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_RSA_gen(2048), EVP_PKEY_free);
    const char* tmp = std::getenv("TMPDIR");
    m_Path =
        std::string(tmp ? tmp : "/tmp") + "/vantrel-bench-key." + std::to_string(getpid()) + ".pem";
    FILE* f = key ? std::fopen(m_Path.c_str(), "w") : nullptr;
    const bool written =
        f != nullptr && PEM_write_PrivateKey(f, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    if (f != nullptr) std::fclose(f);
    if (!written) {
      std::fprintf(stderr, "cannot write the gateway key %s\n", m_Path.c_str());
      return;
    }
    setenv("VANTREL_TESTPEER_KEY", m_Path.c_str(), 1);
    setenv("VANTREL_GATEWAY_PIN", PublicKeyFingerprint(key.get()).c_str(), 1);
  }
  ~TBenchGatewayKey() { unlink(m_Path.c_str()); }
  TBenchGatewayKey(const TBenchGatewayKey&) = delete;
  TBenchGatewayKey& operator=(const TBenchGatewayKey&) = delete;

 private:
  std::string m_Path;
};

}  // namespace vantrel::bench
