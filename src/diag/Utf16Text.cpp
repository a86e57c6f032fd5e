#include "diag/Utf16Text.h"

namespace vantrel {

std::u16string Utf8ToUtf16(std::string_view prmText) {
  std::u16string out;
  out.reserve(prmText.size());
  size_t i = 0;
  while (i < prmText.size()) {
    unsigned char c = static_cast<unsigned char>(prmText[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
    bool ok = extra >= 0 && i + extra < prmText.size();
    for (int k = 1; ok && k <= extra; ++k) {
      unsigned char n = static_cast<unsigned char>(prmText[i + k]);
      if ((n & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (n & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += extra + 1;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view prmText) {
  std::string out;
  out.reserve(prmText.size());
  for (size_t i = 0; i < prmText.size(); ++i) {
    char32_t cp = prmText[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < prmText.size() && prmText[i + 1] >= 0xDC00 &&
        prmText[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (prmText[++i] - 0xDC00);
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

void AppendUtf8(std::string& prmOut, char32_t prmCp) {
  if (prmCp < 0x80) {
    prmOut += static_cast<char>(prmCp);
  } else if (prmCp < 0x800) {
    prmOut += static_cast<char>(0xC0 | (prmCp >> 6));
    prmOut += static_cast<char>(0x80 | (prmCp & 0x3F));
  } else if (prmCp < 0x10000) {
    prmOut += static_cast<char>(0xE0 | (prmCp >> 12));
    prmOut += static_cast<char>(0x80 | ((prmCp >> 6) & 0x3F));
    prmOut += static_cast<char>(0x80 | (prmCp & 0x3F));
  } else {
    prmOut += static_cast<char>(0xF0 | (prmCp >> 18));
    prmOut += static_cast<char>(0x80 | ((prmCp >> 12) & 0x3F));
    prmOut += static_cast<char>(0x80 | ((prmCp >> 6) & 0x3F));
    prmOut += static_cast<char>(0x80 | (prmCp & 0x3F));
  }
}

}  // namespace vantrel
