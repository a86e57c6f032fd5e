#include "catalogue/MaskUnmask.h"

namespace vantrel {

namespace {

constexpr size_t kMaskLen = 15;

#ifndef VANTREL_SESSINFO_MASK
#error "VANTREL_SESSINFO_MASK must be set by the build"
#endif
constexpr std::string_view kBuildMask = VANTREL_SESSINFO_MASK;
static_assert(kBuildMask.size() >= kMaskLen, "VANTREL_SESSINFO_MASK needs 15 characters");

}  // namespace

std::string MaskUnmaskStr(std::string_view prmData, std::string_view prmMask) {
  if (prmMask.size() < kMaskLen) return {};
  std::string out(prmData);
  for (size_t j = 0; j < out.size(); ++j)
    out[j] = static_cast<char>(out[j] ^ prmMask[j % kMaskLen]);
  return out;
}

std::string MaskUnmaskStr(std::string_view prmData) {
  return MaskUnmaskStr(prmData, kBuildMask);
}

}  // namespace vantrel
