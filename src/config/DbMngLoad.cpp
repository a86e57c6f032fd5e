// The configuration-string form of the store's input.
#include <initializer_list>

#include "config/DbMng.h"
#include "diag/DebugLog.h"
#include "diag/TextCodecs.h"
#include "diag/Utf16Text.h"

namespace vantrel {

namespace {

constexpr int kItemCount = 28;
constexpr char32_t kReplacement = 0xFFFD;

// One code point of strict UTF-8 at prmText[prmPos], advancing prmPos. Malformed input (bad lead
// or continuation byte, overlong form, surrogate, beyond U+10FFFF, cut short) consumes one byte
// and yields false.
bool NextCodePoint(std::string_view prmText, size_t& prmPos, char32_t& prmCp) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(prmText[i]); };
  unsigned char b = byte(prmPos);
  size_t len = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b < 0x80) {
    prmCp = b;
    ++prmPos;
    return true;
  } else if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
    prmCp = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    prmCp = b & 0x0F;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    prmCp = b & 0x07;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  }
  if (len == 0 || prmPos + len > prmText.size()) {
    ++prmPos;
    return false;
  }
  for (size_t k = 1; k < len; ++k) {
    unsigned char c = byte(prmPos + k);
    if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) {
      ++prmPos;
      return false;
    }
    prmCp = (prmCp << 6) | (c & 0x3F);
  }
  prmPos += len;
  return true;
}

// The portal sends each character shifted one code up, except "-", ".", "[" and "]". Shifting
// works on characters (code points), which for the 8-bit text the portal means is exactly its
// byte shift. The result is always valid UTF-8: malformed input bytes become U+FFFD unshifted,
// and a shift that would leave the valid range (from U+0000, or from U+E000 into the surrogates)
// gives U+FFFD as well.
std::string WorkingText(std::string_view prmCfg) {
  const bool shifted = prmCfg.front() != '*';
  if (!shifted) prmCfg.remove_prefix(1);
  std::string out;
  out.reserve(prmCfg.size());
  for (size_t pos = 0; pos < prmCfg.size();) {
    char32_t cp = 0;
    if (!NextCodePoint(prmCfg, pos, cp)) {
      AppendUtf8(out, kReplacement);
      continue;
    }
    if (shifted && cp != '-' && cp != '.' && cp != '[' && cp != ']')
      cp = (cp == 0 || cp == 0xE000) ? kReplacement : cp - 1;
    AppendUtf8(out, cp);
  }
  return out;
}

// The k-th character (0-based) of a flag item is "1". Text is valid UTF-8 here, so characters
// start at every byte that is not a continuation byte.
bool FlagAt(std::string_view prmItem, size_t prmIndex) {
  size_t index = 0;
  for (unsigned char c : prmItem) {
    if ((c & 0xC0) == 0x80) continue;
    if (index == prmIndex) return c == '1';
    ++index;
  }
  return false;
}

void SetFlags(std::string_view prmItem, std::initializer_list<bool*> prmFlags) {
  size_t k = 0;
  for (bool* flag : prmFlags) *flag = FlagAt(prmItem, k++);
}

void SetIntIfValid(std::string_view prmItem, int& prmField) {
  int v = 0;
  if (TryStrToInt(prmItem, v)) prmField = v;
}

int IntOr(std::string_view prmItem, int prmFallback) {
  int v = prmFallback;
  return TryStrToInt(prmItem, v) ? v : prmFallback;
}

}  // namespace

void TDBMng::Load(std::string_view prmCfg) {
  if (Trim(prmCfg).empty()) {
    SetFlagFinished();
    return;
  }
  const std::string text = WorkingText(prmCfg);
  std::string_view rest = text;
  // Items are ";"-terminated; the first missing terminator ends the string's useful part, and
  // every item from there on is absent.
  for (int no = 1; no <= kItemCount; ++no) {
    size_t end = rest.find(';');
    if (end == std::string_view::npos) break;
    LoadItem(no, rest.substr(0, end));
    rest.remove_prefix(end + 1);
  }
  WriteDebugLog("Load:configstr: finished");
  SetFlagFinished();
}

void TDBMng::LoadItem(int prmNo, std::string_view prmItem) {
  switch (prmNo) {
    case 1:
      ExtractAgentInfo(prmItem);
      break;
    case 2:
      m_Domain = prmItem;
      break;
    case 3:
      m_SSO = prmItem == "1";
      break;
    case 4:
      SetIntIfValid(prmItem, m_DefSize);
      break;
    case 5:
      SetIntIfValid(prmItem, m_DefWidth);
      break;
    case 6:
      SetIntIfValid(prmItem, m_DefHeight);
      break;
    case 7:
      SetIntIfValid(prmItem, m_DefColorDepth);
      break;
    case 8:
      // A seventh character other than "0" or "1" also means "no POS redirection", which is what
      // FlagAt answers for it.
      SetFlags(prmItem, {&m_AllowRedirConfig, &m_RedirDrives, &m_RedirPrinters, &m_RedirPorts,
                         &m_RedirSmartCards, &m_RedirClipboard, &m_RedirPOS});
      break;
    case 9: {
      // Every name is followed by ","; a trailing name without one is dropped. Names are taken
      // from this item only: a "," in a later item (a proxy or instance text) must not become a
      // plug-in and shift every item after it.
      size_t comma;
      while ((comma = prmItem.find(',')) != std::string_view::npos) {
        m_Plugins.emplace_back(prmItem.substr(0, comma));
        prmItem.remove_prefix(comma + 1);
      }
      break;
    }
    case 10:
      m_AgentProxy = prmItem;
      m_XenAppClientProxy = prmItem;
      break;
    case 11:
      m_DefHost = prmItem;
      break;
    case 12:
      SetFlags(prmItem, {&m_OstraEnabled, &m_AllowCustomDest});
      break;
    case 13:
      m_OstraServer = prmItem;
      break;
    case 14:
      SetFlags(prmItem, {&m_StartupOptions, &m_AutoStart, &m_AutoClose, &m_HideOnConnect});
      break;
    case 15:
      SetFlags(prmItem, {&m_AllowConnectToConsole});
      break;
    case 16:
      SetFlags(prmItem, {&m_EnableGUI, &m_EnablePowerMng});
      break;
    case 17:
      SetFlags(prmItem, {&m_DisableBitmapCache, &m_DisableWallpaper, &m_DisableFullWindowDrag,
                         &m_DisableMenuAnim, &m_DisableTheme});
      break;
    case 18:
      m_IdleAlert = IntOr(prmItem, 0);
      break;
    case 19:
      m_LifetimeAlert = IntOr(prmItem, 0);
      break;
    case 20:
      m_OstraInst = prmItem.empty() ? std::string("default") : std::string(prmItem);
      break;
    case 21:
      SetFlags(prmItem, {&m_AutoLaunchSingleDesktop, &m_AutoLogoutSingleDesktop});
      break;
    case 22:
      m_RDPPort = IntOr(prmItem, 3389);
      break;
    case 23:
      m_KeyboardHook = IntOr(prmItem, 2);
      break;
    case 24:
      m_AudioMode = IntOr(prmItem, 1);
      break;
    case 25:
      m_AuthenticationLevel = IntOr(prmItem, 0);
      break;
    case 26:
      SetFlags(prmItem, {&m_iOSKeyboardPreview});
      break;
    case 27:
      SetFlags(prmItem, {&m_MonitorSpan});
      break;
    case 28:
      SetFlags(prmItem, {&m_HideConnectionBar});
      break;
    default:
      break;
  }
}

void TDBMng::ExtractAgentInfo(std::string_view prmInfo) {
  size_t comma = prmInfo.find(',');
  if (comma != std::string_view::npos) {
    m_XenAppClientURL = prmInfo.substr(comma + 1);
    prmInfo = prmInfo.substr(0, comma);
  }
  static constexpr std::string_view kVersion = "#VERSION=";
  size_t ver = FindText(prmInfo, kVersion);
  if (ver == std::string_view::npos) {
    m_TSAgentURL = prmInfo;
  } else {
    m_TSAgentURL = prmInfo.substr(0, ver);
    m_TSAgentVersion = prmInfo.substr(ver + kVersion.size());
  }
}

}  // namespace vantrel
