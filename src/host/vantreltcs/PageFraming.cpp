#include "host/vantreltcs/PageFraming.h"

#include <cstring>

namespace vantrel::host {

bool EncodeNativeFrame(std::string_view prmMessage, std::string& prmOut) {
  if (prmMessage.size() > kMaxNativeMessage) return false;
  const uint32_t length = static_cast<uint32_t>(prmMessage.size());
  char header[kNativeHeaderSize];
  std::memcpy(header, &length, sizeof header);
  prmOut.append(header, sizeof header);
  prmOut.append(prmMessage);
  return true;
}

void TNativeFrameDecoder::Feed(std::string_view prmBytes) {
  // Taken frames are dropped only when more arrives, so a message handed out stays cheap.
  if (m_Pos > 0) {
    m_Buf.erase(0, m_Pos);
    m_Pos = 0;
  }
  m_Buf.append(prmBytes);
}

size_t TNativeFrameDecoder::Announced() const {
  if (m_Buf.size() - m_Pos < kNativeHeaderSize) return 0;
  uint32_t length = 0;
  std::memcpy(&length, m_Buf.data() + m_Pos, sizeof length);
  return length;
}

TNativeFrameDecoder::TResult TNativeFrameDecoder::Next(std::string& prmMessage) {
  if (m_Buf.size() - m_Pos < kNativeHeaderSize) return TResult::NeedMore;
  const size_t length = Announced();
  if (length > kMaxNativeMessage) return TResult::TooLarge;
  if (m_Buf.size() - m_Pos - kNativeHeaderSize < length) return TResult::NeedMore;
  prmMessage.assign(m_Buf, m_Pos + kNativeHeaderSize, length);
  m_Pos += kNativeHeaderSize + length;
  return TResult::Frame;
}

bool IsUtf8(std::string_view prmText) {
  size_t i = 0;
  while (i < prmText.size()) {
    const unsigned char c = static_cast<unsigned char>(prmText[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t more = 0;
    uint32_t cp = 0, least = 0;
    if ((c & 0xE0) == 0xC0) {
      more = 1, cp = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      more = 2, cp = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      more = 3, cp = c & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (prmText.size() - i <= more) return false;
    for (size_t k = 1; k <= more; ++k) {
      const unsigned char t = static_cast<unsigned char>(prmText[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += more + 1;
  }
  return true;
}

}  // namespace vantrel::host
