#include "config/RdpFileFormat.h"

#include <cstdint>

#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

void AppendUtf8(uint32_t prmCode, std::string& prmOut) {
  if (prmCode < 0x80) {
    prmOut.push_back(static_cast<char>(prmCode));
  } else if (prmCode < 0x800) {
    prmOut.push_back(static_cast<char>(0xC0 | (prmCode >> 6)));
    prmOut.push_back(static_cast<char>(0x80 | (prmCode & 0x3F)));
  } else if (prmCode < 0x10000) {
    prmOut.push_back(static_cast<char>(0xE0 | (prmCode >> 12)));
    prmOut.push_back(static_cast<char>(0x80 | ((prmCode >> 6) & 0x3F)));
    prmOut.push_back(static_cast<char>(0x80 | (prmCode & 0x3F)));
  } else {
    prmOut.push_back(static_cast<char>(0xF0 | (prmCode >> 18)));
    prmOut.push_back(static_cast<char>(0x80 | ((prmCode >> 12) & 0x3F)));
    prmOut.push_back(static_cast<char>(0x80 | ((prmCode >> 6) & 0x3F)));
    prmOut.push_back(static_cast<char>(0x80 | (prmCode & 0x3F)));
  }
}

void AppendUtf16(uint32_t prmCode, std::string& prmOut) {
  auto unit = [&prmOut](uint32_t u) {
    prmOut.push_back(static_cast<char>(u & 0xFF));
    prmOut.push_back(static_cast<char>(u >> 8));
  };
  if (prmCode < 0x10000) {
    unit(prmCode);
  } else {
    prmCode -= 0x10000;
    unit(0xD800 | (prmCode >> 10));
    unit(0xDC00 | (prmCode & 0x3FF));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 sequence at prmPos; invalid or overlong forms give U+FFFD and one byte.
uint32_t NextUtf8(std::string_view prmText, size_t& prmPos) {
  auto b = [&](size_t i) { return static_cast<uint8_t>(prmText[i]); };
  uint8_t c = b(prmPos);
  size_t len = c < 0x80             ? 1
               : (c & 0xE0) == 0xC0 ? 2
               : (c & 0xF0) == 0xE0 ? 3
               : (c & 0xF8) == 0xF0 ? 4
                                    : 0;
  if (len == 0 || prmPos + len > prmText.size()) {
    ++prmPos;
    return kReplacement;
  }
  uint32_t code = len == 1 ? c : c & (0x7F >> len);
  for (size_t i = 1; i < len; ++i) {
    if ((b(prmPos + i) & 0xC0) != 0x80) {
      ++prmPos;
      return kReplacement;
    }
    code = (code << 6) | (b(prmPos + i) & 0x3F);
  }
  static constexpr uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kMin[len] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++prmPos;
    return kReplacement;
  }
  prmPos += len;
  return code;
}

bool IsUtf8(std::string_view prmText) {
  for (size_t i = 0; i < prmText.size();) {
    size_t start = i;
    if (NextUtf8(prmText, i) == kReplacement && i == start + 1) return false;
  }
  return true;
}

std::string OneLine(std::string_view prmText) {
  std::string out;
  out.reserve(prmText.size());
  for (char c : prmText)
    if (c != '\r' && c != '\n') out.push_back(c);
  return out;
}

}  // namespace

std::string FormatRdpEntry(const TRdpEntry& prmEntry) {
  std::string line = prmEntry.Name;
  line += ':';
  line += prmEntry.Type;
  line += ':';
  line += prmEntry.Value;
  line += "\r\n";
  return line;
}

bool ParseRdpLine(std::string_view prmLine, TRdpEntry& prmEntry) {
  size_t first = prmLine.find(':');
  if (first == std::string_view::npos || first + 2 >= prmLine.size() || prmLine[first + 2] != ':')
    return false;
  char type = prmLine[first + 1];
  if (type != 'i' && type != 's' && type != 'b') return false;
  prmEntry = {std::string(prmLine.substr(0, first)), type, std::string(prmLine.substr(first + 3))};
  return true;
}

std::vector<TRdpEntry> ParseRdpFile(std::string_view prmBytes) {
  std::string text;
  if (prmBytes.size() >= 2 && static_cast<uint8_t>(prmBytes[0]) == 0xFF &&
      static_cast<uint8_t>(prmBytes[1]) == 0xFE) {
    text = Utf16LEToUtf8(prmBytes.substr(2));
  } else if (prmBytes.size() >= 3 && prmBytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text = prmBytes.substr(3);
  } else {
    text = IsUtf8(prmBytes) ? std::string(prmBytes) : FromAnsi(prmBytes);
  }
  std::vector<TRdpEntry> entries;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    TRdpEntry entry;
    if (ParseRdpLine(line, entry)) entries.push_back(std::move(entry));
  }
  return entries;
}

void TRdpFileWriter::Add(const TRdpEntry& prmEntry) {
  m_Out += FormatRdpEntry({prmEntry.Name, prmEntry.Type, ToAnsi(OneLine(prmEntry.Value))});
}

void TRdpFileWriter::Int(std::string_view prmName, int prmValue) {
  Add({std::string(prmName), 'i', std::to_string(prmValue)});
}

void TRdpFileWriter::Text(std::string_view prmName, std::string_view prmValue) {
  Add({std::string(prmName), 's', std::string(prmValue)});
}

std::string Utf8ToUtf16LE(std::string_view prmUtf8) {
  std::string out;
  out.reserve(prmUtf8.size() * 2);
  for (size_t i = 0; i < prmUtf8.size();) AppendUtf16(NextUtf8(prmUtf8, i), out);
  return out;
}

std::string Utf16LEToUtf8(std::string_view prmUtf16) {
  std::string out;
  const size_t units = prmUtf16.size() / 2;
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<uint8_t>(prmUtf16[2 * i])) |
           (static_cast<uint32_t>(static_cast<uint8_t>(prmUtf16[2 * i + 1])) << 8);
  };
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 &&
        unit(i + 1) <= 0xDFFF) {
      AppendUtf8(0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00), out);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(kReplacement, out);
    } else {
      AppendUtf8(u, out);
    }
  }
  if (prmUtf16.size() % 2 != 0) AppendUtf8(kReplacement, out);
  return out;
}

}  // namespace vantrel
