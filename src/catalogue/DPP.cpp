#include "catalogue/DPP.h"

#include "config/DbMng.h"
#include "diag/Xml.h"

namespace vantrel {

namespace {

// Attribute of "DPP" for each flag, in flag order.
constexpr const char* kDPPAttrs[TDPP::FLAG_COUNT] = {"RDrv",  "RPrt", "RPorts",    "RSC",
                                                     "RClip", "RPOS", "AntiKeyLog"};

}  // namespace

TDPP::TDPP() {
  for (int& f : m_Flags) f = -1;
}

bool TDPP::GetFlagBool(int prmFlag, bool prmDefault) const {
  switch (GetFlag(prmFlag)) {
    case 0:
      return false;
    case 1:
      return true;
    default:
      return prmDefault;
  }
}

int TDPP::GetFlag(int prmFlag) const {
  return ValidFlag(prmFlag) ? m_Flags[prmFlag - 1] : -1;
}

void TDPP::SetFlag(int prmFlag, int prmStat) {
  if (ValidFlag(prmFlag) && (prmStat == 0 || prmStat == 1)) m_Flags[prmFlag - 1] = prmStat;
}

void TDPP::SetFlagStrict(int prmFlag, int prmStat) {
  if (GetFlag(prmFlag) != 0) SetFlag(prmFlag, prmStat);
}

void TDPP::Load(const TXmlNode& prmRoot, const TDBMng& prmDBMng) {
  TXmlNode dpps = prmRoot.FindFirst("DPPs");
  if (!dpps) {
    SetFlagStrict(FLAG_REDIR_DRIVES, prmDBMng.GetRedirDrives() ? 1 : 0);
    SetFlagStrict(FLAG_REDIR_PRINTERS, prmDBMng.GetRedirPrinters() ? 1 : 0);
    SetFlagStrict(FLAG_REDIR_PORTS, prmDBMng.GetRedirPorts() ? 1 : 0);
    SetFlagStrict(FLAG_REDIR_SMARTCARDS, prmDBMng.GetRedirSmartCards() ? 1 : 0);
    SetFlagStrict(FLAG_REDIR_CLIPBOARD, prmDBMng.GetRedirClipboard() ? 1 : 0);
    SetFlagStrict(FLAG_REDIR_POS, prmDBMng.GetRedirPOS() ? 1 : 0);
    SetFlagStrict(FLAG_ANTI_KEYLOG, 0);
    return;
  }
  for (const TXmlNode& dpp : dpps.FindAll("DPP"))
    for (int flag = 1; flag <= FLAG_COUNT; ++flag)
      SetFlagStrict(flag, dpp.AttrInt(kDPPAttrs[flag - 1], 0));
}

}  // namespace vantrel
