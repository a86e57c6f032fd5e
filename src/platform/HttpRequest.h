// One HTTP request on libcurl with the settings every transfer of the control shares (the
// session's file exchange, the XenApp service exchange): no redirects followed, no cookie engine,
// bounded connect and stall times, a bounded reply, and a cancel test that ends the transfer
// within about a second of the owner going away.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// A request to a server behind the gateway ends within this time, from its start
// to the end of its body, however slowly the peer sends.
constexpr long kRequestDeadlineMs = 60000;

struct TTransferLimits {
  long ConnectMs = 30000;
  // A transfer that moves no byte for this long is abandoned.
  long StallSeconds = 60;
  // The whole request's deadline, counted from the request's creation; 0: none.
  long RequestMs = kRequestDeadlineMs;
  // Largest reply body taken: a larger announced length is refused before any body byte is
  // read, and a body that grows past it ends the transfer (TooLarge).
  uint64_t MaxBodyBytes = 16u << 20;
};

// Reply header lines kept per request; more is a reply nobody sends, refused as too large.
constexpr size_t kMaxReplyHeaderBytes = 64u << 10;

// Value of the first header named prmName (case-insensitive) among raw "Name: value" lines;
// false when there is none. The value is trimmed.
bool FindHeader(const std::vector<std::string>& prmLines, std::string_view prmName,
                std::string& prmValue);

// A reply whose chunked body the caller must decode itself (libcurl decodes only
// "Transfer-Encoding"): no "Transfer-Encoding" header, and "Transfer-Coding" with the value
// "CHUNKED" in any case.
bool NeedsOwnChunkDecoding(const std::vector<std::string>& prmHeaderLines);

// The step of a request a libcurl failure is logged under, as the logs name it: "Failed to
// connect (", "Failed to initialize request (", "Failed to send request (" or "Failed to receive
// response (".
const char* FailStepText(CURLcode prmCode);

class TCurlRequest {
 public:
  using TBodySink = std::function<bool(const char* prmData, size_t prmLen)>;
  using TCancelTest = std::function<bool()>;

  // Raises nothing; Valid() is false when libcurl could not create the handle. The request's
  // deadline (prmLimits.RequestMs) starts here.
  TCurlRequest(const TTransferLimits& prmLimits, TCancelTest prmCancel);
  ~TCurlRequest();
  TCurlRequest(const TCurlRequest&) = delete;
  TCurlRequest& operator=(const TCurlRequest&) = delete;

  bool Valid() const { return m_Curl != nullptr; }
  CURL* Handle() { return m_Curl; }

  // Request headers go out in the order they are added.
  void AddHeader(const std::string& prmLine);
  // A POST of an XML body (not copied: it must outlive Perform) to a server behind a tunnel
  // listener, as the servers there expect it: HTTP/1.1 without proxy, user agent
  // "KelvorTCS/1.0", and the headers "Connection: close", "Content-Type: text/xml", "Accept:
  // text/html, */*", "Accept-Encoding: identity" and "Host: " + prmHostPort in this order.
  // prmURL names the listener; prmHostPort the server behind it.
  void SetXmlPost(const std::string& prmURL, const std::string& prmHostPort, const char* prmBody,
                  size_t prmLen);
  // Receives the body; returning false aborts the transfer (CURLE_WRITE_ERROR).
  void SetBodySink(TBodySink prmSink) { m_Sink = std::move(prmSink); }

  // CURLE_OPERATION_TIMEDOUT once the deadline has passed, before or during the transfer.
  CURLcode Perform();

  // Status code of the last reply; 0 when none arrived.
  long ResponseCode();
  // Content length of the last reply; -1 when not given.
  int64_t ContentLength();
  // "Name: value" lines of the last reply (a proxy's CONNECT reply is not among them).
  const std::vector<std::string>& HeaderLines() const { return m_Headers; }
  bool Cancelled() const { return m_Cancelled; }
  // The reply announced or sent more than the limits allow; the transfer was ended.
  bool TooLarge() const { return m_TooLarge; }

 private:
  static size_t OnHeader(char* prmData, size_t prmSize, size_t prmCount, void* prmSelf);
  static size_t OnBody(char* prmData, size_t prmSize, size_t prmCount, void* prmSelf);
  static int OnProgress(void* prmSelf, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

  CURL* m_Curl = nullptr;
  curl_slist* m_HeaderList = nullptr;
  TCancelTest m_Cancel;
  TBodySink m_Sink;
  std::vector<std::string> m_Headers;
  size_t m_HeaderBytes = 0;
  uint64_t m_MaxBody;
  std::chrono::steady_clock::time_point m_Deadline;
  bool m_HasDeadline;
  uint64_t m_BodyBytes = 0;
  bool m_Cancelled = false;
  bool m_TooLarge = false;
};

}  // namespace vantrel
