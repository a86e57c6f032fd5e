// One HTTP request on libcurl with the settings every transfer of the file exchange shares: no
// redirects followed, no cookie engine, bounded connect and stall times, and a cancel test that
// ends the transfer within about a second of the owner going away.
#pragma once

#include <curl/curl.h>

#include <functional>
#include <string>
#include <vector>

namespace vantrel {

struct TTransferLimits {
  long ConnectMs = 30000;
  // A transfer that moves no byte for this long is abandoned.
  long StallSeconds = 60;
};

class TCurlRequest {
 public:
  using TBodySink = std::function<bool(const char* prmData, size_t prmLen)>;
  using TCancelTest = std::function<bool()>;

  // Raises nothing; Valid() is false when libcurl could not create the handle.
  TCurlRequest(const TTransferLimits& prmLimits, TCancelTest prmCancel);
  ~TCurlRequest();
  TCurlRequest(const TCurlRequest&) = delete;
  TCurlRequest& operator=(const TCurlRequest&) = delete;

  bool Valid() const { return m_Curl != nullptr; }
  CURL* Handle() { return m_Curl; }

  // Request headers go out in the order they are added.
  void AddHeader(const std::string& prmLine);
  // Receives the body; returning false aborts the transfer (CURLE_WRITE_ERROR).
  void SetBodySink(TBodySink prmSink) { m_Sink = std::move(prmSink); }

  CURLcode Perform();

  // Status code of the last reply; 0 when none arrived.
  long ResponseCode();
  // Content length of the last reply; -1 when not given.
  int64_t ContentLength();
  // "Name: value" lines of the last reply (a proxy's CONNECT reply is not among them).
  const std::vector<std::string>& HeaderLines() const { return m_Headers; }
  bool Cancelled() const { return m_Cancelled; }

 private:
  static size_t OnHeader(char* prmData, size_t prmSize, size_t prmCount, void* prmSelf);
  static size_t OnBody(char* prmData, size_t prmSize, size_t prmCount, void* prmSelf);
  static int OnProgress(void* prmSelf, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

  CURL* m_Curl = nullptr;
  curl_slist* m_HeaderList = nullptr;
  TCancelTest m_Cancel;
  TBodySink m_Sink;
  std::vector<std::string> m_Headers;
  bool m_Cancelled = false;
};

}  // namespace vantrel
