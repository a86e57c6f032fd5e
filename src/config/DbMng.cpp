#include "config/DbMng.h"

#include "config/RdpOptions.h"
#include "diag/DebugLog.h"

namespace vantrel {

TDBMng::TDBMng() {
  for (const TRdpOptionDef& def : RdpOptionDefs()) {
    if (def.Flag != nullptr)
      this->*def.Flag = def.Default != 0;
    else
      this->*def.Int = def.Default;
  }
}

void TDBMng::SetRedir(bool prmDrives, bool prmPrinters, bool prmPorts, bool prmSmartCards,
                      bool prmClipboard, bool prmPOS) {
  m_RedirDrives = prmDrives;
  m_RedirPrinters = prmPrinters;
  m_RedirPorts = prmPorts;
  m_RedirSmartCards = prmSmartCards;
  m_RedirClipboard = prmClipboard;
  m_RedirPOS = prmPOS;
}

std::string TDBMng::GetPluginName(int prmIndex) const {
  if (prmIndex < 0 || prmIndex >= GetPluginsCount()) return std::string();
  const std::string& name = m_Plugins[static_cast<size_t>(prmIndex)];
  return !name.empty() && name.front() == '*' ? name.substr(1) : name;
}

bool TDBMng::IsPluginReq(int prmIndex) const {
  if (prmIndex < 0 || prmIndex >= GetPluginsCount()) return false;
  const std::string& name = m_Plugins[static_cast<size_t>(prmIndex)];
  return !name.empty() && name.front() == '*';
}

void TDBMng::SetOstraServer(const std::string& prmServer) {
  m_OstraServer = prmServer;
  m_OstraEnabled = true;
}

int TDBMng::GetSecurityRDPFlag() const {
  return m_Type == 2 ? m_EnableSecurityRDP : 0;
}

int TDBMng::GetAuthenticationLevel() const {
  return m_EnableSecurityRDP == 1 || m_Type == 1 ? 0 : m_AuthenticationLevel;
}

bool TDBMng::GetIndependently() const {
  WriteDebugLog(m_Independently ? "GetIndependently : True" : "GetIndependently : False");
  return m_Independently;
}

void TDBMng::XenAppGetSize(int& prmWidth, int& prmHeight) const {
  prmWidth = -1;
  prmHeight = -1;
}

}  // namespace vantrel
