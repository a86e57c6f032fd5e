// A bare TLS client for testing the gateway peer: it speaks bytes only, so each test spells out
// what the tunnel's client would send and checks what comes back. Every read is bounded.
#pragma once

#include <openssl/ssl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::testpeer::test {

using TBytes = std::vector<uint8_t>;

// Upper bound of every wait in these tests; they normally finish in milliseconds.
constexpr int kWait = 10000;

class TRawTlsClient {
 public:
  TRawTlsClient();
  ~TRawTlsClient();
  TRawTlsClient(const TRawTlsClient&) = delete;
  TRawTlsClient& operator=(const TRawTlsClient&) = delete;

  // TCP connect to 127.0.0.1:prmPort and TLS handshake (versions 1.0 to prmMaxVersion).
  bool Connect(uint16_t prmPort, int prmMaxVersion = TLS1_2_VERSION);
  // TCP connect only (for peers that should cope with a client that never shakes hands).
  bool ConnectTcpOnly(uint16_t prmPort);
  bool Send(const TBytes& prmBytes);
  bool Send(const std::string& prmText) { return Send(TBytes(prmText.begin(), prmText.end())); }
  // Exactly prmCount bytes, or nothing when the connection ends or 10 s pass.
  std::optional<TBytes> Read(size_t prmCount);
  // One SSL_read: the rest of the current TLS record (up to prmMax bytes).
  std::optional<TBytes> ReadRecord(size_t prmMax = 65536);
  // Everything up to the end of the connection (bounded like Read).
  TBytes ReadToEnd();
  // True when the peer has closed the connection (waits up to 10 s).
  bool WaitClosed();
  int Fd() const { return m_Fd; }

 private:
  int m_Fd = -1;
  SSL_CTX* m_Ctx = nullptr;
  SSL* m_Ssl = nullptr;
};

// First-protocol header as the tunnel's client writes it (ActionCode and destination address
// little-endian, the rest big-endian).
TBytes ClientHeader(uint8_t prmCode, const std::string& prmDest = "0.0.0.0", uint16_t prmPort = 0,
                    uint16_t prmId = 0, uint32_t prmLen = 0);
// Legacy 13-byte header: code byte, address in network order, then big-endian fields.
TBytes LegacyHeader(uint8_t prmCode, const std::string& prmAddr = "0.0.0.0", uint16_t prmPort = 0,
                    uint16_t prmId = 0, uint32_t prmLen = 0);
TBytes Concat(std::initializer_list<TBytes> prmParts);
TBytes Hex(const std::string& prmHex);
uint32_t BE32(const uint8_t* p);
uint16_t BE16(const uint8_t* p);

}  // namespace vantrel::testpeer::test
