#include "platform/HttpRequest.h"

#include "diag/TextCodecs.h"

#include <errno.h>
#include <strings.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>

namespace vantrel {

namespace {

// The value of a "Content-Length" header line, or -1 when prmLine is another header.
int64_t ContentLengthHeader(const std::string& prmLine) {
  static const char kName[] = "content-length:";
  if (prmLine.size() < sizeof(kName) - 1 ||
      strncasecmp(prmLine.c_str(), kName, sizeof(kName) - 1) != 0)
    return -1;
  const char* value = prmLine.c_str() + sizeof(kName) - 1;
  while (*value == ' ' || *value == '\t') ++value;
  if (*value < '0' || *value > '9') return -1;
  errno = 0;
  unsigned long long n = strtoull(value, nullptr, 10);
  return errno == ERANGE || n > static_cast<unsigned long long>(INT64_MAX)
             ? INT64_MAX
             : static_cast<int64_t>(n);
}

void InitCurlOnce() {
  // curl_global_init is not thread-safe in every libcurl build; the first request of any thread
  // runs it exactly once.
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

bool FindHeader(const std::vector<std::string>& prmLines, std::string_view prmName,
                std::string& prmValue) {
  for (const std::string& line : prmLines) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (!SameText(Trim(std::string_view(line).substr(0, colon)), prmName)) continue;
    prmValue = Trim(std::string_view(line).substr(colon + 1));
    return true;
  }
  return false;
}

bool NeedsOwnChunkDecoding(const std::vector<std::string>& prmHeaderLines) {
  std::string value;
  if (FindHeader(prmHeaderLines, "Transfer-Encoding", value)) return false;
  return FindHeader(prmHeaderLines, "Transfer-Coding", value) && SameText(value, "CHUNKED");
}

const char* FailStepText(CURLcode prmCode) {
  switch (prmCode) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
      return "Failed to connect (";
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return "Failed to initialize request (";
    case CURLE_SEND_ERROR:
    case CURLE_READ_ERROR:
      return "Failed to send request (";
    default:
      return "Failed to receive response (";
  }
}

TCurlRequest::TCurlRequest(const TTransferLimits& prmLimits, TCancelTest prmCancel)
    : m_Cancel(std::move(prmCancel)),
      m_MaxBody(prmLimits.MaxBodyBytes),
      m_Deadline(std::chrono::steady_clock::now() + std::chrono::milliseconds(prmLimits.RequestMs)),
      m_HasDeadline(prmLimits.RequestMs > 0) {
  InitCurlOnce();
  m_Curl = curl_easy_init();
  if (m_Curl == nullptr) return;
  curl_easy_setopt(m_Curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(m_Curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(m_Curl, CURLOPT_CONNECTTIMEOUT_MS, prmLimits.ConnectMs);
  curl_easy_setopt(m_Curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(m_Curl, CURLOPT_LOW_SPEED_TIME, prmLimits.StallSeconds);
  curl_easy_setopt(m_Curl, CURLOPT_HEADERFUNCTION, &TCurlRequest::OnHeader);
  curl_easy_setopt(m_Curl, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(m_Curl, CURLOPT_WRITEFUNCTION, &TCurlRequest::OnBody);
  curl_easy_setopt(m_Curl, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(m_Curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(m_Curl, CURLOPT_XFERINFOFUNCTION, &TCurlRequest::OnProgress);
  curl_easy_setopt(m_Curl, CURLOPT_XFERINFODATA, this);
}

TCurlRequest::~TCurlRequest() {
  if (m_Curl != nullptr) curl_easy_cleanup(m_Curl);
  curl_slist_free_all(m_HeaderList);
}

void TCurlRequest::AddHeader(const std::string& prmLine) {
  m_HeaderList = curl_slist_append(m_HeaderList, prmLine.c_str());
}

void TCurlRequest::SetXmlPost(const std::string& prmURL, const std::string& prmHostPort,
                              const char* prmBody, size_t prmLen) {
  if (m_Curl == nullptr) return;
  curl_easy_setopt(m_Curl, CURLOPT_URL, prmURL.c_str());
  curl_easy_setopt(m_Curl, CURLOPT_PROXY, "");
  curl_easy_setopt(m_Curl, CURLOPT_USERAGENT, "KelvorTCS/1.0");
  curl_easy_setopt(m_Curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(m_Curl, CURLOPT_POST, 1L);
  curl_easy_setopt(m_Curl, CURLOPT_POSTFIELDS, prmBody);
  curl_easy_setopt(m_Curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(prmLen));
  AddHeader("Connection: close");
  AddHeader("Content-Type: text/xml");
  AddHeader("Accept: text/html, */*");
  AddHeader("Accept-Encoding: identity");
  AddHeader("Host: " + prmHostPort);
  // libcurl would otherwise hold larger bodies back for a "100 Continue".
  AddHeader("Expect:");
}

CURLcode TCurlRequest::Perform() {
  if (m_Curl == nullptr) return CURLE_FAILED_INIT;
  if (m_Cancel && m_Cancel()) {
    m_Cancelled = true;
    return CURLE_ABORTED_BY_CALLBACK;
  }
  if (m_HasDeadline) {
    // Name resolution and the listener came first; they count against the same deadline.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        m_Deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return CURLE_OPERATION_TIMEDOUT;
    curl_easy_setopt(m_Curl, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
  }
  if (m_HeaderList != nullptr) curl_easy_setopt(m_Curl, CURLOPT_HTTPHEADER, m_HeaderList);
  return curl_easy_perform(m_Curl);
}

long TCurlRequest::ResponseCode() {
  long code = 0;
  if (m_Curl == nullptr || curl_easy_getinfo(m_Curl, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK)
    return 0;
  return code;
}

int64_t TCurlRequest::ContentLength() {
  curl_off_t length = -1;
  if (m_Curl == nullptr ||
      curl_easy_getinfo(m_Curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK)
    return -1;
  return length;
}

size_t TCurlRequest::OnHeader(char* prmData, size_t prmSize, size_t prmCount, void* prmSelf) {
  auto* self = static_cast<TCurlRequest*>(prmSelf);
  size_t len = prmSize * prmCount;
  std::string line(prmData, len);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  // A status line starts a new reply (an interim 1xx, or the reply behind a proxy's CONNECT):
  // only the last reply's headers count.
  if (line.rfind("HTTP/", 0) == 0) {
    self->m_Headers.clear();
    self->m_HeaderBytes = 0;
    return len;
  }
  // Refused before the body: a huge announced length must not be waited for or buffered.
  const int64_t announced = ContentLengthHeader(line);
  self->m_HeaderBytes += line.size();
  if (self->m_HeaderBytes > kMaxReplyHeaderBytes ||
      (announced >= 0 && static_cast<uint64_t>(announced) > self->m_MaxBody)) {
    self->m_TooLarge = true;
    return 0;
  }
  if (!line.empty()) self->m_Headers.push_back(std::move(line));
  return len;
}

size_t TCurlRequest::OnBody(char* prmData, size_t prmSize, size_t prmCount, void* prmSelf) {
  auto* self = static_cast<TCurlRequest*>(prmSelf);
  size_t len = prmSize * prmCount;
  self->m_BodyBytes += len;
  if (self->m_BodyBytes > self->m_MaxBody) {
    self->m_TooLarge = true;
    return 0;
  }
  if (self->m_Sink && !self->m_Sink(prmData, len)) return 0;
  return len;
}

int TCurlRequest::OnProgress(void* prmSelf, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* self = static_cast<TCurlRequest*>(prmSelf);
  if (self->m_Cancel && self->m_Cancel()) {
    self->m_Cancelled = true;
    return 1;
  }
  return 0;
}

}  // namespace vantrel
