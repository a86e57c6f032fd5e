// Arbitrary bytes as the browser's native-messaging input, fed in pieces whose sizes the input's
// first byte chooses: the decoder never hands out more than the bound or other bytes than were
// framed, and each message read as the open request either opens or raises, never crashes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "diag/Exceptions.h"
#include "host/vantreltcs/NativeOpen.h"
#include "host/vantreltcs/PageFraming.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  using namespace vantrel::host;
  if (prmSize == 0) return 0;
  const size_t piece = 1 + prmData[0] % 64;
  const std::string input(reinterpret_cast<const char*>(prmData + 1), prmSize - 1);
  TNativeFrameDecoder frames;
  std::string taken;
  for (size_t at = 0; at < input.size(); at += piece) {
    frames.Feed(std::string_view(input).substr(at, piece));
    std::string message;
    TNativeFrameDecoder::TResult r;
    while ((r = frames.Next(message)) == TNativeFrameDecoder::TResult::Frame) {
      if (message.size() > kMaxNativeMessage) __builtin_trap();
      if (!EncodeNativeFrame(message, taken)) __builtin_trap();
      try {
        OpenParams(ParseOpenRequest(message));
      } catch (const vantrel::EBaseException&) {
      }
    }
    if (r == TNativeFrameDecoder::TResult::TooLarge) break;
  }
  // What was taken is the input's beginning, byte for byte.
  if (input.compare(0, taken.size(), taken) != 0) __builtin_trap();
  return 0;
}
