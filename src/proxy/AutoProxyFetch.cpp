#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "diag/DebugLog.h"
#include "diag/FileRead.h"
#include "diag/TextCodecs.h"
#include "diag/UniqueFd.h"
#include "proxy/AutoProxy.h"

namespace vantrel {

namespace {

constexpr size_t kMaxScript = 1 << 20;

size_t OnBody(char* prmData, size_t prmSize, size_t prmCount, void* prmUser) {
  auto* body = static_cast<std::string*>(prmUser);
  size_t len = prmSize * prmCount;
  if (body->size() + len > kMaxScript) return 0;  // ends the transfer as a write error
  body->append(prmData, len);
  return len;
}

bool FetchHttpScript(const std::string& prmUrl, std::string& prmScript) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* curl = curl_easy_init();
  if (!curl) return false;
  curl_easy_setopt(curl, CURLOPT_URL, prmUrl.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 10000L);
  curl_easy_setopt(curl, CURLOPT_PROXY, "");  // the script decides about proxies; never use one
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &prmScript);
  CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  if (rc != CURLE_OK || status != 200) {
    WriteDebugLog("GetProxyForUrlFromScript - fetching " + prmUrl +
                  " failed: " + curl_easy_strerror(rc) + ", status " + std::to_string(status));
    return false;
  }
  return true;
}

}  // namespace

bool FetchProxyScript(const std::string& prmScriptUrl, std::string& prmScript) {
  prmScript.clear();
  if (FindText(prmScriptUrl, "file://") == 0) {
    std::string path = prmScriptUrl.substr(7);
    if (FindText(path, "localhost/") == 0) path.erase(0, 9);
    return ReadRegularFile(path, kMaxScript, prmScript);
  }
  if (FindText(prmScriptUrl, "http://") == 0) return FetchHttpScript(prmScriptUrl, prmScript);
  return false;
}

}  // namespace vantrel
