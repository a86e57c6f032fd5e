#include "proxy/Utf16Text.h"

namespace vantrel {

std::u16string ToUtf16(const std::string& prmUtf8) {
  std::u16string out;
  for (size_t i = 0; i < prmUtf8.size();) {
    auto c = static_cast<unsigned char>(prmUtf8[i]);
    int extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : -1;
    char32_t cp = extra < 0 ? 0xFFFD : c & (0x7F >> extra);
    ++i;
    for (int k = 0; k < extra; ++k, ++i) {
      if (i >= prmUtf8.size() || (static_cast<unsigned char>(prmUtf8[i]) & 0xC0) != 0x80) {
        cp = 0xFFFD;
        break;
      }
      cp = cp << 6 | (static_cast<unsigned char>(prmUtf8[i]) & 0x3F);
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) cp = 0xFFFD;
    if (cp >= 0x10000) {
      out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
      out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += char16_t(cp);
    }
  }
  return out;
}

std::string FromUtf16(const char16_t* prmText, size_t prmMax) {
  std::string out;
  auto put = [&out](char32_t cp) {
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | cp >> 6);
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | cp >> 12);
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | cp >> 18);
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  };
  for (size_t i = 0; i < prmMax && prmText[i]; ++i) {
    char32_t u = prmText[i];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < prmMax && prmText[i + 1] >= 0xDC00 &&
        prmText[i + 1] < 0xE000) {
      put(0x10000 + ((u - 0xD800) << 10) + (prmText[++i] - 0xDC00));
    } else {
      put(u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
    }
  }
  return out;
}

}  // namespace vantrel
