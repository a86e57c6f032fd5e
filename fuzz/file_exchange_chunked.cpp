// The manager's own chunked-reply decoding on arbitrary bytes: never reads outside the body,
// never yields more than it was given, and a body re-encoded from the decoded chunks decodes
// to the same bytes. The known-hosts filter on the same bytes only ever drops whole lines.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/KnownHosts.h"
#include "session/FileExchangeFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string out;
  vantrel::TChunkResult r = vantrel::DecodeChunkedBody(in, out);
  if (out.size() > in.size()) __builtin_trap();
  if (r == vantrel::TChunkResult::Complete) {
    char size_line[32];
    std::snprintf(size_line, sizeof(size_line), "%zx\r\n", out.size());
    std::string again;
    std::string body = out.empty() ? "0\r\n" : size_line + out + "\r\n0\r\n";
    if (vantrel::DecodeChunkedBody(body, again) != vantrel::TChunkResult::Complete || again != out)
      __builtin_trap();
  }
  std::string kept = vantrel::WithoutKnownHost(in, "127.0.0.1");
  if (kept.size() > in.size() || vantrel::WithoutKnownHost(kept, "127.0.0.1") != kept)
    __builtin_trap();
  return 0;
}
