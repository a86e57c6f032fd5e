#include "diag/TextCodecs.h"

#include <iconv.h>
#include <langinfo.h>

#include <cctype>
#include <charconv>
#include <cstring>

#include "diag/Exceptions.h"

namespace vantrel {

namespace {

// Decimal digits from prmFrom up to the first other character; the value or -1 when none or
// too large for an int.
int LeadingDigits(std::string_view prmText, size_t prmFrom, size_t& prmEnd) {
  size_t i = prmFrom;
  while (i < prmText.size() && std::isdigit(static_cast<unsigned char>(prmText[i]))) ++i;
  prmEnd = i;
  int v = 0;
  if (i == prmFrom || !TryStrToInt(prmText.substr(prmFrom, i - prmFrom), v)) return -1;
  return v;
}

int HexVal(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes form-URL encoding copies; explicit ranges, since the locale's isalnum() would let
// 8-bit letters of a single-byte code set through unescaped.
bool IsFormURLSafe(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c != 0 && std::strchr("!$'()*-.@_", c) != nullptr);
}

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int B64Val(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;  // outside the alphabet counts as 0
}

bool IsUtf8Codeset(const char* prmCodeset) {
  return std::strcmp(prmCodeset, "UTF-8") == 0 || std::strcmp(prmCodeset, "utf8") == 0;
}

// Converts through iconv, replacing what cannot be converted by '?', one input byte at a time
// on error so the rest of the text survives.
std::string Convert(std::string_view prmText, const char* prmTo, const char* prmFrom,
                    bool prmFromUtf8) {
  iconv_t cd = iconv_open(prmTo, prmFrom);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    std::string out(prmText);
    for (char& c : out)
      if (static_cast<unsigned char>(c) >= 0x80) c = '?';
    return out;
  }
  std::string out;
  out.reserve(prmText.size());
  char* in = const_cast<char*>(prmText.data());
  size_t inLeft = prmText.size();
  char buf[512];
  while (inLeft > 0) {
    char* o = buf;
    size_t oLeft = sizeof buf;
    size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
    out.append(buf, o - buf);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) {
      // Skip one whole (UTF-8) character or one byte, and mark it.
      size_t skip = 1;
      if (prmFromUtf8) {
        unsigned char c = static_cast<unsigned char>(*in);
        skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (skip > inLeft) skip = inLeft;
      }
      out += '?';
      in += skip;
      inLeft -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

bool IsAscii(std::string_view prmText) {
  for (char c : prmText)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace

void SplitURL(std::string_view prmURL, std::string& prmHost, int& prmPort, std::string& prmPath) {
  std::string_view r = prmURL.size() > 7 ? prmURL.substr(7) : std::string_view();
  size_t colon = r.find(':');
  if (colon == std::string_view::npos) {
    prmPort = 80;
    size_t slash = r.find('/');
    if (slash == std::string_view::npos) {
      prmHost = r;
      prmPath.clear();
    } else {
      prmHost = r.substr(0, slash);
      prmPath = r.substr(slash + 1);
    }
    return;
  }
  prmHost = r.substr(0, colon);
  size_t end = 0;
  int port = LeadingDigits(r, colon + 1, end);
  prmPort = port < 0 ? 80 : port;
  prmPath = end < r.size() ? std::string(r.substr(end + 1)) : std::string();
}

void SplitHostPort(std::string_view prmText, int prmDefPort, std::string& prmHost, int& prmPort) {
  size_t colon = prmText.find(':');
  if (colon == std::string_view::npos) {
    prmHost = prmText;
    prmPort = prmDefPort;
    return;
  }
  prmHost = prmText.substr(0, colon);
  int v = 0;
  prmPort = TryStrToInt(prmText.substr(colon + 1), v) ? v : prmDefPort;
}

std::string FormURLEncode(std::string_view prmText) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(prmText.size() * 3);
  for (char ch : prmText) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (IsFormURLSafe(c)) {
      out += ch;
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::string FormURLDecode(std::string_view prmText) {
  std::string out;
  out.reserve(prmText.size());
  for (size_t i = 0; i < prmText.size(); ++i) {
    char c = prmText[i];
    if (c == '+') {
      out += ' ';
    } else if (c != '%') {
      out += c;
    } else if (i + 1 < prmText.size() && prmText[i + 1] == '%') {
      out += '%';
      ++i;
    } else if (i + 2 >= prmText.size()) {
      throw EBaseException::CreateFmt(
          "Error decoding URL style (%%XX) encoded string at position %d", static_cast<int>(i + 1));
    } else {
      int hi = HexVal(prmText[i + 1]), lo = HexVal(prmText[i + 2]);
      if (hi < 0 || lo < 0)
        throw EBaseException::CreateFmt("Invalid URL encoded character (%s) at position %d",
                                        prmText.substr(i, 3), static_cast<int>(i + 1));
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    }
  }
  return out;
}

std::string Base64Encode(const void* prmData, size_t prmLen) {
  const uint8_t* p = static_cast<const uint8_t*>(prmData);
  std::string out;
  out.reserve((prmLen + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= prmLen; i += 3) {
    uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
    out += kB64[v >> 18];
    out += kB64[(v >> 12) & 63];
    out += kB64[(v >> 6) & 63];
    out += kB64[v & 63];
  }
  if (prmLen - i == 1) {
    uint32_t v = p[i] << 16;
    out += kB64[v >> 18];
    out += kB64[(v >> 12) & 63];
    out += "==";
  } else if (prmLen - i == 2) {
    uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
    out += kB64[v >> 18];
    out += kB64[(v >> 12) & 63];
    out += kB64[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

TBytes Base64Decode(std::string_view prmText) {
  std::string s;
  s.reserve(prmText.size());
  for (char c : prmText)
    if (c != '\t' && c != '\n' && c != '\r' && c != ' ') s += c;
  if (s.size() % 4 != 0) throw EBaseException("sxeErrorCalcStreamLength");
  TBytes out;
  out.reserve(s.size() / 4 * 3);
  for (size_t i = 0; i < s.size(); i += 4) {
    uint32_t v = (B64Val(s[i]) << 18) | (B64Val(s[i + 1]) << 12) | (B64Val(s[i + 2]) << 6) |
                 B64Val(s[i + 3]);
    out.push_back(static_cast<uint8_t>(v >> 16));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
  }
  // Only trailing "=" shorten the output: "QQ=A" is three bytes, not two.
  size_t pad = 0;
  if (!s.empty() && s.back() == '=') {
    ++pad;
    if (s[s.size() - 2] == '=') ++pad;
  }
  out.resize(out.size() - pad);
  return out;
}

std::string TextToHex(std::string_view prmText) {
  // Characters are Unicode code points of the UTF-8 text.
  std::string out;
  char buf[16];
  for (size_t i = 0; i < prmText.size();) {
    unsigned char c = static_cast<unsigned char>(prmText[i]);
    uint32_t cp = c;
    size_t n = 1;
    if (c >= 0xC0 && c < 0xE0)
      cp = c & 0x1F, n = 2;
    else if (c >= 0xE0 && c < 0xF0)
      cp = c & 0x0F, n = 3;
    else if (c >= 0xF0)
      cp = c & 0x07, n = 4;
    if (i + n > prmText.size()) n = 1, cp = c;
    // A lead byte without its continuation bytes stands for itself.
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(prmText[i + k]) & 0xC0) != 0x80) n = 1, cp = c;
    for (size_t k = 1; k < n; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(prmText[i + k]) & 0x3F);
    std::snprintf(buf, sizeof buf, "%02X", cp);
    out += buf;
    i += n;
  }
  return out;
}

std::string BytesToHex(const void* prmData, size_t prmLen) {
  static const char kHex[] = "0123456789ABCDEF";
  const uint8_t* p = static_cast<const uint8_t*>(prmData);
  std::string out;
  out.reserve(prmLen * 2);
  for (size_t i = 0; i < prmLen; ++i) {
    out += kHex[p[i] >> 4];
    out += kHex[p[i] & 15];
  }
  return out;
}

bool IsCabFile(std::string_view prmName) {
  return prmName.size() >= 3 && SameText(prmName.substr(prmName.size() - 3), "CAB");
}

std::string ToAnsi(std::string_view prmUtf8) {
  if (IsAscii(prmUtf8)) return std::string(prmUtf8);
  const char* cs = nl_langinfo(CODESET);
  if (IsUtf8Codeset(cs)) return std::string(prmUtf8);
  return Convert(prmUtf8, cs, "UTF-8", true);
}

std::string FromAnsi(std::string_view prmAnsi) {
  if (IsAscii(prmAnsi)) return std::string(prmAnsi);
  const char* cs = nl_langinfo(CODESET);
  if (IsUtf8Codeset(cs)) return Convert(prmAnsi, "UTF-8", "UTF-8", true);
  return Convert(prmAnsi, "UTF-8", cs, false);
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

size_t FindText(std::string_view prmHaystack, std::string_view prmNeedle, size_t prmFrom) {
  if (prmNeedle.size() > prmHaystack.size()) return std::string_view::npos;
  for (size_t i = prmFrom; i + prmNeedle.size() <= prmHaystack.size(); ++i)
    if (SameText(prmHaystack.substr(i, prmNeedle.size()), prmNeedle)) return i;
  return std::string_view::npos;
}

std::string UpperCase(std::string_view prmText) {
  std::string s(prmText);
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string LowerCase(std::string_view prmText) {
  std::string s(prmText);
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(std::string_view prmText) {
  size_t b = 0, e = prmText.size();
  while (b < e && static_cast<unsigned char>(prmText[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(prmText[e - 1]) <= ' ') --e;
  return std::string(prmText.substr(b, e - b));
}

namespace {

// TryStrToInt's reading; result_out_of_range for an integer that does not fit, whatever its length.
std::errc ReadInt(std::string_view prmText, int& prmValue) {
  std::string_view t = prmText;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  if (!t.empty() && t.front() == '+') {
    t.remove_prefix(1);
    if (!t.empty() && t.front() == '-') return std::errc::invalid_argument;  // one sign at most
  }
  if (t.empty()) return std::errc::invalid_argument;
  int v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v, 10);
  if (p != t.data() + t.size()) return std::errc::invalid_argument;
  if (ec == std::errc()) prmValue = v;
  return ec;
}

}  // namespace

bool TryStrToInt(std::string_view prmText, int& prmValue) {
  return ReadInt(prmText, prmValue) == std::errc();
}

int PortOr(std::string_view prmText, int prmDefault) {
  int v = 0;
  std::errc ec = ReadInt(prmText, v);
  if (ec == std::errc::invalid_argument) return prmDefault;
  return ec == std::errc() && IsTcpPort(v) ? v : kNoPort;
}

}  // namespace vantrel
