#include "session/RdpFile.h"

#include <cstdint>

#include "diag/TextCodecs.h"
#include "platform/DataProtection.h"

namespace vantrel {

namespace {

constexpr const char* kPasswordDescription = "psw";

// A value must stay on its own line: a line break inside a user name or a folder would otherwise
// add entries of its own to the file.
std::string OneLine(std::string_view prmText) {
  std::string out;
  out.reserve(prmText.size());
  for (char c : prmText)
    if (c != '\r' && c != '\n') out.push_back(c);
  return ToAnsi(out);
}

class TRdpWriter {
 public:
  void Int(const char* prmEntry, int prmValue) { Line(prmEntry, std::to_string(prmValue)); }
  void Bool(const char* prmEntry, bool prmValue) { Line(prmEntry, prmValue ? "1" : "0"); }
  void LowByte(const char* prmEntry, int prmValue) { Int(prmEntry, prmValue & 0xFF); }
  void Text(const char* prmEntry, std::string_view prmValue) { Line(prmEntry, OneLine(prmValue)); }
  void Line(const char* prmEntry, const std::string& prmValue) {
    m_Out += prmEntry;
    m_Out += prmValue;
    m_Out += "\r\n";
  }
  std::string Take() { return std::move(m_Out); }

 private:
  std::string m_Out;
};

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

bool HexDigit(char c, uint8_t& prmValue) {
  if (c >= '0' && c <= '9')
    prmValue = static_cast<uint8_t>(c - '0');
  else if (c >= 'A' && c <= 'F')
    prmValue = static_cast<uint8_t>(c - 'A' + 10);
  else if (c >= 'a' && c <= 'f')
    prmValue = static_cast<uint8_t>(c - 'a' + 10);
  else
    return false;
  return true;
}

}  // namespace

std::string BuildRdpFileText(const TWinDesktopParams& prmParams, const std::string& prmPassHex) {
  const TWinDesktopParams& p = prmParams;
  int width = p.prmWidth, height = p.prmHeight;
  bool hideBar = p.prmHideConnectionBar;
  if (p.prmDisablePrtScreen) {
    // Print-screen protection: full screen without a connection bar.
    width = height = -1;
    hideBar = true;
  }
  TRdpWriter w;
  w.Int("screen mode id:i:", height == -1 ? 2 : 1);
  if (height != -1) {
    w.Int("desktopwidth:i:", width);
    w.Int("desktopheight:i:", height);
  }
  w.Text("full address:s:", p.prmServer + ":" + std::to_string(p.prmPort));
  w.Text("username:s:", p.prmUserName);
  if (!p.prmPass.empty() && !prmPassHex.empty()) w.Text("password 51:b:", prmPassHex);
  if (!p.prmDomain.empty()) w.Text("domain:s:", p.prmDomain);
  if (!p.prmPlugins.empty()) w.Text("devicestoredirect:s:", p.prmPlugins);
  if (p.prmColorDepth != 0) w.Int("session bpp:i:", p.prmColorDepth);
  w.Int("displayconnectionbar:i:", 1 - (hideBar ? 1 : 0));
  w.Bool("span monitors:i:", p.prmSpan);
  w.Bool("use multimon:i:", p.prmMultimon);
  w.Bool("smart sizing:i:", p.prmSmartSizing);
  w.Bool("enablecredsspsupport:i:", p.prmEnablecredsspsupport);
  w.Bool("audiocapturemode:i:", p.prmAudiocapturemode);
  w.Bool("compression:i:", p.prmCompression);
  w.Bool("videoplaybackmode:i:", p.prmVideoplaybackmode);
  w.Bool("allow font smoothing:i:", p.prmAllowFontSmoothing);
  w.Bool("allow desktop composition:i:", p.prmAllowDesktopComposition);
  w.Bool("disable cursor setting:i:", p.prmDisableCursorSetting);
  w.Bool("redirectdirectx:i:", p.prmRedirectdirectx);
  w.Bool("autoreconnection enabled:i:", p.prmAutoreconnectionEnabled);
  w.Bool("prompt for credentials:i:", p.prmPromptForCredentials);
  w.Bool("negotiate security layer:i:", p.prmNegotiateSecurityLayer);
  w.Bool("gatewayprofileusagemethod:i:", p.prmGatewayprofileusagemethod);
  w.Bool("promptcredentialonce:i:", p.prmPromptcredentialonce);
  w.LowByte("connection type:i:", p.prmConnectionType);
  w.LowByte("gatewayusagemethod:i:", p.prmGatewayusagemethod);
  w.LowByte("gatewaycredentialssource:i:", p.prmGatewaycredentialssource);
  w.LowByte("autoreconnect max retries:i:", p.prmAutoreconnectMaxRetries);
  w.Bool("use redirection server name:i:", p.prmUseRedirectionServerName);
  w.Bool("networkautodetect:i:", p.prmNetworkautodetect);
  w.Bool("bandwidthautodetect:i:", p.prmBandwidthautodetect);
  w.Bool("enableworkspacereconnect:i:", p.prmEnableworkspacereconnect);
  w.Line("alternate shell:s:", "");
  w.Line("shell working directory:s:", "");
  w.Line("gatewayhostname:s:", "");
  w.Bool("redirectdrives:i:", p.prmRedirDrives);
  w.Bool("redirectprinters:i:", p.prmRedirPrinters);
  w.Bool("redirectcomports:i:", p.prmRedirPorts);
  w.Bool("redirectsmartcards:i:", p.prmRedirSmartCards);
  w.Bool("redirectclipboard:i:", p.prmRedirClipboard);
  w.Bool("redirectposdevices:i:", p.prmRedirPOSDevices);
  w.LowByte("audiomode:i:", p.prmSound);
  w.Bool("connect to console:i:", p.prmConnectToConsole);
  w.Bool("disable wallpaper:i:", p.Wallpaper);
  w.Bool("disable full window drag:i:", p.FullWindowDrag);
  w.Bool("disable menu anims:i:", p.MenuAnim);
  w.Bool("disable themes:i:", p.Theme);
  w.Bool("bitmapcachepersistenable:i:", p.prmBitmapCaching);
  if (!p.prmWorkDir.empty()) w.Text("remoteapplicationexpandworkingdir:i:", p.prmWorkDir);
  w.Int("keyboardhook:i:", p.prmKeyboardHook);
  w.LowByte("authentication level:i:", p.prmAuthenticationLevel);
  w.Line("remoteapplicationmode:i:0", "");
  return w.Take();
}

std::string CryptRDPPassword(const std::string& prmPassword) {
  std::string wide = Utf8ToUtf16LE(prmPassword);
  std::string blob;
  bool ok = ProtectData(wide, kPasswordDescription, blob);
  std::fill(wide.begin(), wide.end(), '\0');
  return ok ? BytesToHex(blob.data(), blob.size()) : std::string();
}

bool UncryptRDPPassword(std::string_view prmHex, std::string& prmPassword) {
  prmPassword.clear();
  if (prmHex.size() % 2 != 0) return false;
  std::string blob(prmHex.size() / 2, '\0');
  for (size_t i = 0; i < blob.size(); ++i) {
    uint8_t hi = 0, lo = 0;
    if (!HexDigit(prmHex[2 * i], hi) || !HexDigit(prmHex[2 * i + 1], lo)) return false;
    blob[i] = static_cast<char>((hi << 4) | lo);
  }
  std::string wide;
  if (!UnprotectData(blob, wide)) return false;
  prmPassword = Utf16LEToUtf8(wide);
  std::fill(wide.begin(), wide.end(), '\0');
  return true;
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
    size_t first = line.find(':');
    if (first == std::string::npos || first + 2 >= line.size() || line[first + 2] != ':') continue;
    char type = line[first + 1];
    if (type != 'i' && type != 's' && type != 'b') continue;
    entries.push_back(
        {std::string(line.substr(0, first)), type, std::string(line.substr(first + 3))});
  }
  return entries;
}

}  // namespace vantrel
