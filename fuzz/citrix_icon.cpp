// Icon files on arbitrary bytes: what decodes becomes a PNG image, what does not gives none, and
// the icons built from any 640 bytes of 16-colour data or any 4096 bytes of 32-bit pixels always
// decode.
#include <cstddef>
#include <cstdint>
#include <string>

#include "citrix/IconBuild.h"
#include "citrix/IconPng.h"

namespace {

void CheckPng(const std::string& prmPng, bool prmRequired) {
  if (prmPng.empty()) {
    if (prmRequired) __builtin_trap();
    return;
  }
  if (prmPng.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckPng(vantrel::IconToPng(vantrel::TBytes(data, data + size)), false);
  if (size >= vantrel::kIcon16DataBytes)
    CheckPng(vantrel::IconToPng(vantrel::BuildIcon16(data)), true);
  if (size >= 4096) CheckPng(vantrel::IconToPng(vantrel::BuildIcon32(data, 4096)), true);
  return 0;
}
