// Credential and context set-up on OpenSSL: protocol sets per device type, the trust store and
// name the gateway's certificate is checked against, the client-certificate callback and the
// stream sizes.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>

#include "diag/DebugLog.h"
#include "diag/NetAddress.h"
#include "tls/ChannelBios.h"
#include "tls/SSPIImpl.h"
#include "tls/ServerTrust.h"

namespace vantrel {

void TX509Free::operator()(X509* prmCert) const {
  X509_free(prmCert);
}
void TPKeyFree::operator()(EVP_PKEY* prmKey) const {
  EVP_PKEY_free(prmKey);
}

namespace {

// SNI carries names only; an address literal is not sent.
bool IsAddressLiteral(const std::string& prmHost) {
  in6_addr a6;
  std::string h = prmHost;
  if (h.size() > 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  return IsDottedQuad(h) || inet_pton(AF_INET6, h.c_str(), &a6) == 1;
}

}  // namespace

void CSSPI::TImpl::InitCred(int prmDeviceType) {
  m_DeviceType = prmDeviceType;
  m_Cred.reset(SSL_CTX_new(TLS_client_method()));
  SSL_CTX* c = m_Cred.get();
  if (!c) {
    WriteDebugLog("CSSPI.InitCred - SSL_CTX_new failed");
    return;
  }
  // The handshake always completes: OpenSSL only records its verdict on the chain and name, and
  // the channel decides once it is through (ServerTrust.h), before the session is sent.
  SSL_CTX_set_verify(c, SSL_VERIFY_NONE, nullptr);
  UseGatewayTrustStore(c);
  // TLS 1.0 and its SHA-1 signatures are refused above level 0 by OpenSSL 3.
  SSL_CTX_set_security_level(c, 0);
  SSL_CTX_set_cipher_list(c, "DEFAULT:@SECLEVEL=0");
  // The old protocol versions are no reason to trust old keys: a chain with a key or signature
  // below 112 bits of strength is not the trust store's word, and the user is asked instead.
  X509_VERIFY_PARAM_set_auth_level(SSL_CTX_get0_param(c), 2);
  if (prmDeviceType == 1) {
    SSL_CTX_set_min_proto_version(c, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(c, TLS1_VERSION);
  } else {
    // OpenSSL cannot offer a set with a hole (disabling 1.1 caps it at 1.0), so the range is
    // 1.0 to 1.2 and a gateway choosing 1.1 is refused once its hello is read (ProcessRecord).
    SSL_CTX_set_min_proto_version(c, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(c, TLS1_2_VERSION);
  }
  // Older gateways lack the renegotiation-indication extension; they are reached all the same.
  SSL_CTX_set_options(c, SSL_OP_LEGACY_SERVER_CONNECT);
  SSL_CTX_set_client_cert_cb(c, &TImpl::ClientCertCallback);
}

bool CSSPI::TImpl::StartContext(const std::string& prmDest) {
  std::lock_guard<std::mutex> lock(m_SslCS);
  if (!m_Cred) return false;
  TSslPtr ctx(SSL_new(m_Cred.get()));
  SSL* s = ctx.get();
  if (!s) return false;
  m_Cipher.clear();
  m_Input = TInputWindow();
  BIO* rbio = NewInputBio(&m_Input);
  BIO* wbio = NewOutputBio(&m_Cipher);
  if (!rbio || !wbio) {
    BIO_free(rbio);
    BIO_free(wbio);
    return false;
  }
  SSL_set_bio(s, rbio, wbio);
  SSL_set_app_data(s, this);
  SSL_set_connect_state(s);
  if (!prmDest.empty() && !IsAddressLiteral(prmDest)) SSL_set_tlsext_host_name(s, prmDest.c_str());
  // An unusable name verifies nothing; the trust decision refuses it after the handshake.
  ExpectGatewayName(s, prmDest);
  ERR_clear_error();
  int rc = SSL_do_handshake(s);
  if (rc != -1 || SSL_get_error(s, rc) != SSL_ERROR_WANT_READ || BIO_ctrl_pending(wbio) == 0)
    return false;
  m_Ctx = std::move(ctx);
  return true;
}

void CSSPI::TImpl::DeleteSecurityContext() {
  {
    std::lock_guard<std::mutex> lock(m_SslCS);
    m_Ctx.reset();
  }
  m_HandshakeCV.notify_all();
}

int CSSPI::TImpl::ClientCertCallback(SSL* prmSsl, X509** prmCert, EVP_PKEY** prmKey) {
  // Runs inside a handshake step, with m_SslCS held by the caller of that step.
  auto* self = static_cast<TImpl*>(SSL_get_app_data(prmSsl));
  if (self && self->m_PendingCert.Cert && self->m_PendingCert.Key) {
    X509_up_ref(self->m_PendingCert.Cert.get());
    EVP_PKEY_up_ref(self->m_PendingCert.Key.get());
    *prmCert = self->m_PendingCert.Cert.get();
    *prmKey = self->m_PendingCert.Key.get();
    return 1;
  }
  // Suspend the handshake (the step reports "credentials incomplete"): the channel asks for a
  // certificate outside the lock and then lets the handshake go on.
  return -1;
}

TStreamSizes CSSPI::TImpl::QueryStreamSizes() const {
  TStreamSizes sz;
  sz.cbHeader = 5;
  sz.cbTrailer = 0;
  sz.cbMaximumMessage = SSL3_RT_MAX_PLAIN_LENGTH;
  sz.cBuffers = 4;
  sz.cbBlockSize = 1;
  const SSL_CIPHER* cipher = m_Ctx ? SSL_get_current_cipher(m_Ctx.get()) : nullptr;
  if (!cipher) return sz;
  bool explicitIv = SSL_version(m_Ctx.get()) >= TLS1_1_VERSION;
  const EVP_CIPHER* ec = EVP_get_cipherbynid(SSL_CIPHER_get_cipher_nid(cipher));
  int block = ec ? EVP_CIPHER_get_block_size(ec) : 1;
  if (SSL_CIPHER_is_aead(cipher)) {
    bool chacha = std::strstr(SSL_CIPHER_get_name(cipher), "CHACHA20") != nullptr;
    bool ccm8 = std::strstr(SSL_CIPHER_get_name(cipher), "CCM8") != nullptr;
    sz.cbHeader += chacha ? 0 : 8;  // explicit nonce of GCM and CCM
    sz.cbTrailer = ccm8 ? 8 : 16;
    sz.cbBlockSize = 16;
    return sz;
  }
  const EVP_MD* md = EVP_get_digestbynid(SSL_CIPHER_get_digest_nid(cipher));
  int mac = md ? EVP_MD_get_size(md) : 0;
  if (block > 1) {
    if (explicitIv) sz.cbHeader += uint32_t(block);
    sz.cbTrailer = uint32_t(mac + block);  // MAC plus up to one block of padding
  } else {
    sz.cbTrailer = uint32_t(mac);
  }
  sz.cbBlockSize = uint32_t(block);
  return sz;
}

}  // namespace vantrel
