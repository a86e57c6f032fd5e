// A bare HTTP client for testing the availability peer: it sends bytes as the test spells them
// and reads replies without interpreting more than status, headers and Content-Length. Every
// read is bounded.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "RawTlsClient.h"

namespace vantrel::testpeer::test {

struct TRawReply {
  int Status = 0;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  std::string Header(const std::string& prmName) const;  // case-insensitive; empty when absent
};

class TRawHttp {
 public:
  // 127.0.0.1:prmPort, with 10 s send and receive timeouts.
  bool Connect(uint16_t prmPort);
  bool Send(const std::string& prmBytes);
  // One reply framed by its Content-Length; nothing when the connection ends first or 10 s pass.
  std::optional<TRawReply> ReadReply();
  // Everything until the peer closes (bounded like ReadReply).
  std::string ReadToEnd();
  // True when the peer closed the connection without sending anything more (waits up to 10 s).
  bool WaitClosed();

 private:
  TRawTlsClient m_Tcp;  // owns the socket; only its plain TCP connection is used
  int m_Fd = -1;
  std::string m_Pending;  // bytes read beyond the last reply
};

// Splits a whole reply text into status, headers and the rest as body; status 0 when the text
// holds no complete header section.
TRawReply ParseRawReply(const std::string& prmText);

// "GET <target> HTTP/1.1" with Host and, when prmClose, "Connection: close".
std::string Get(const std::string& prmTarget, bool prmClose = true);
std::string Post(const std::string& prmTarget, const std::string& prmBody, bool prmClose = true);

// One request on a fresh connection, read until the peer closes it.
TRawReply Exchange(uint16_t prmPort, const std::string& prmRequest);

}  // namespace vantrel::testpeer::test
