// The texts start-up reads from files and programs it does not control: a cookie file against a
// URL, and the RDP client's version output. Neither may crash, and both answer in their form.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/CookieStore.h"
#include "platform/RdpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in(reinterpret_cast<const char*>(data), size);
  // The first line is the URL, the rest the cookie file.
  size_t nl = in.find('\n');
  std::string url = nl == std::string::npos ? in : in.substr(0, nl);
  std::string text = nl == std::string::npos ? std::string() : in.substr(nl + 1);
  std::string cookies = vantrel::CookiesFromNetscapeText(text, url, 1000);
  // Every cookie comes from a line with its fields separated by tabs.
  if (!cookies.empty() && text.find('\t') == std::string::npos) __builtin_trap();

  std::string version = vantrel::RdpVersionFromFreeRdp(in);
  if (!version.empty() && version.rfind("10.0.", 0) != 0 && version.rfind("7.0.", 0) != 0)
    __builtin_trap();
  return 0;
}
