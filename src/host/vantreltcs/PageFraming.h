// How messages are cut on the page's byte streams. Pure: bytes in, bytes out.
//   Lines   one JSON text per line, ended by a newline (a page started with --api stdio).
//   Native  the browser's native messaging: a 32-bit length in this machine's byte order, then
//           that many bytes of UTF-8 JSON. The browser drops the whole port on a message above
//           kMaxNativeMessage, and so does the host on one it receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel::host {

enum class TFraming { Lines, Native };

constexpr size_t kMaxNativeMessage = 1048576;
constexpr size_t kNativeHeaderSize = sizeof(uint32_t);

// Appends prmMessage framed for the browser to prmOut; false (prmOut untouched) when it is
// larger than kMaxNativeMessage.
bool EncodeNativeFrame(std::string_view prmMessage, std::string& prmOut);

// Cuts native frames out of the bytes fed to it. A frame is taken whole or not at all.
class TNativeFrameDecoder {
 public:
  enum class TResult {
    Frame,     // prmMessage holds the next message
    NeedMore,  // no whole frame yet
    TooLarge,  // the next frame announces more than kMaxNativeMessage: the stream is unusable
  };

  void Feed(std::string_view prmBytes);
  TResult Next(std::string& prmMessage);
  // Bytes of an unfinished frame are held: at the end of input the last frame was cut short.
  bool Partial() const { return m_Pos < m_Buf.size(); }
  // The length the held header announces, or 0 while not even the header is complete.
  size_t Announced() const;

 private:
  std::string m_Buf;
  size_t m_Pos = 0;  // start of the first frame not yet taken
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view prmText);

}  // namespace vantrel::host
