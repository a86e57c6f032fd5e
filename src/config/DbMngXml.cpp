// The "Settings" element form of the store's input.
#include <algorithm>
#include <vector>

#include "config/DbMng.h"
#include "config/RdpOptions.h"
#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "diag/Xml.h"

namespace vantrel {

namespace {

// Keeps an error line short when the server sends a long text where a number belongs; cut at a
// character boundary so the line stays valid UTF-8.
std::string ShortText(const std::string& prmText) {
  constexpr size_t kMax = 64;
  if (prmText.size() <= kMax) return prmText;
  size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(prmText[cut]) & 0xC0) == 0x80) --cut;
  return prmText.substr(0, cut) + "...";
}

int StrictInt(const char* prmName, const std::string& prmText) {
  int v = 0;
  if (!TryStrToInt(prmText, v))
    throw EBaseException::CreateFmt("LoadXML: element \"%s\": '%s' is not a valid integer value",
                                    prmName, ShortText(prmText));
  return v;
}

}  // namespace

// The elements in the order they are read, the RDP client's options in runs of the options
// table among them; the order matters because a bad integer stops the load where it stands.
struct TDBMngXmlItems {
  enum class TKind { Text, Is1, Is0, Int, IdleKM, ScreenSize, ColorDepth, Options };
  struct TItem {
    const char* Name;
    TKind Kind;
    std::string TDBMng::*Str = nullptr;
    bool TDBMng::*Flag = nullptr;
    int TDBMng::*Int = nullptr;
    bool HasMissing = false;  // a missing element sets Missing instead of leaving the field
    int Missing = 0;
    TRdpOption First{}, Last{};  // of an Options run
  };

  static TItem Text(const char* prmName, std::string TDBMng::*prmField) {
    return {prmName, TKind::Text, prmField};
  }
  static TItem Is1(const char* prmName, bool TDBMng::*prmField) {
    return {prmName, TKind::Is1, nullptr, prmField};
  }
  static TItem Is0(const char* prmName, bool TDBMng::*prmField) {
    return {prmName, TKind::Is0, nullptr, prmField};
  }
  static TItem Int(const char* prmName, int TDBMng::*prmField) {
    return {prmName, TKind::Int, nullptr, nullptr, prmField};
  }
  static TItem IntOr(const char* prmName, int TDBMng::*prmField, int prmMissing) {
    return {prmName, TKind::Int, nullptr, nullptr, prmField, true, prmMissing};
  }
  static TItem Special(const char* prmName, TKind prmKind) { return {prmName, prmKind}; }

  // Stands for the RDP client's options prmFirst to prmLast; Items() replaces it by their items.
  static TItem Options(TRdpOption prmFirst, TRdpOption prmLast) {
    TItem run{"", TKind::Options};
    run.First = prmFirst;
    run.Last = prmLast;
    return run;
  }
  static TItem Option(const TRdpOptionDef& prmDef) {
    switch (prmDef.Rule) {
      case TRdpSettingRule::Is1:
        return Is1(prmDef.Setting, prmDef.Flag);
      case TRdpSettingRule::Is0:
        return Is0(prmDef.Setting, prmDef.Flag);
      case TRdpSettingRule::Int:
        break;
    }
    return IntOr(prmDef.Setting, prmDef.Int, prmDef.Default);
  }

  static std::vector<TItem> Build() {
    using D = TDBMng;
    using O = TRdpOption;
    const TItem listed[] = {
        Text("rdpagent", &D::m_TSAgentURL),
        Text("rdpagentproxy", &D::m_AgentProxy),
        Text("citrixclient", &D::m_XenAppClientURL),
        Text("citrixclientproxy", &D::m_XenAppClientProxy),
        Is1("customdest", &D::m_AllowCustomDest),
        Is1("powermng", &D::m_EnablePowerMng),
        Special("screensize", TKind::ScreenSize),
        Special("colordepth", TKind::ColorDepth),
        Is0("bitmapcache", &D::m_DisableBitmapCache),
        Options(O::Wallpaper, O::Theme),
        Is1("sso", &D::m_SSO),
        Text("domain", &D::m_Domain),
        Int("idlealert", &D::m_IdleAlert),
        IntOr("keepalive", &D::m_KeepAlive, -1),
        IntOr("securityrdp", &D::m_EnableSecurityRDP, 1),
        Int("lifetimealert", &D::m_LifetimeAlert),
        Special("idle_timeout_km_event", TKind::IdleKM),
        Is1("console", &D::m_AllowConnectToConsole),
        Options(O::HideConnectionBar, O::MonitorSpan),
        Is1("showrdpfile", &D::m_ShowRdpFile),
        Options(O::KeyboardHook, kLastRdpOption),
        Is1("validappsize", &D::m_ValidAppSize),
        Is1("citrix_independently", &D::m_Independently),
        Is1("vdiauth", &D::m_ExtraAuth),
    };
    std::vector<TItem> items;
    for (const TItem& item : listed) {
      if (item.Kind != TKind::Options) {
        items.push_back(item);
        continue;
      }
      for (const TRdpOptionDef& def : RdpOptionDefs())
        if (def.Id >= item.First && def.Id <= item.Last) items.push_back(Option(def));
    }
    return items;
  }

  static const std::vector<TItem>& Items() {
    static const std::vector<TItem> items = Build();
    return items;
  }

  // "<width>X<height>": both non-zero gives the custom size, either zero gives full screen, no
  // "X" or a part that is not an integer changes nothing. Only 255 characters after the "X" count.
  static void ScreenSize(TDBMng& prmDB, const std::string& prmText) {
    size_t x = prmText.find('X');
    int width = 0, height = 0;
    if (x == std::string::npos || !TryStrToInt(std::string_view(prmText).substr(0, x), width) ||
        !TryStrToInt(std::string_view(prmText).substr(x + 1, 255), height))
      return;
    const bool full = width == 0 || height == 0;
    prmDB.m_DefSize = full ? 0 : 4;
    prmDB.m_DefWidth = full ? 0 : width;
    prmDB.m_DefHeight = full ? 0 : height;
  }

  static void ColorDepth(TDBMng& prmDB, const std::string& prmText) {
    int bits = 0;
    if (!TryStrToInt(prmText, bits)) return;
    prmDB.m_DefColorDepth = bits == 8 ? 1 : bits == 16 ? 2 : bits == 24 ? 3 : bits == 32 ? 4 : 0;
  }

  static void Apply(TDBMng& prmDB, const TItem& prmItem, const TXmlNode& prmCfg) {
    TXmlNode node = prmCfg.FindFirst(prmItem.Name);
    if (!node) {
      if (prmItem.HasMissing) prmDB.*prmItem.Int = prmItem.Missing;
      return;
    }
    const std::string text = node.Text();
    switch (prmItem.Kind) {
      case TKind::Text:
        prmDB.*prmItem.Str = text;
        break;
      case TKind::Is1:
        prmDB.*prmItem.Flag = text == "1";
        break;
      case TKind::Is0:
        prmDB.*prmItem.Flag = text == "0";
        break;
      case TKind::Int:
        prmDB.*prmItem.Int = StrictInt(prmItem.Name, text);
        break;
      case TKind::IdleKM:
        prmDB.m_IdleTimeout_km = std::clamp(StrictInt(prmItem.Name, text), 30, 86400);
        break;
      case TKind::ScreenSize:
        ScreenSize(prmDB, text);
        break;
      case TKind::ColorDepth:
        ColorDepth(prmDB, text);
        break;
      case TKind::Options:  // replaced by the options' own items
        break;
    }
  }
};

std::vector<std::string_view> TDBMng::XmlSettingNames() {
  std::vector<std::string_view> names;
  for (const TDBMngXmlItems::TItem& item : TDBMngXmlItems::Items()) names.push_back(item.Name);
  return names;
}

void TDBMng::LoadXML(const TXmlNode& prmCfg) {
  for (const TDBMngXmlItems::TItem& item : TDBMngXmlItems::Items())
    TDBMngXmlItems::Apply(*this, item, prmCfg);
  SetFlagFinished();
}

}  // namespace vantrel
