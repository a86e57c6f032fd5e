#include "citrix/XmlCitrixService.h"

#include "citrix/CitrixUtil.h"

namespace vantrel {

uint8_t TXmlCitrixService::GetAppAddress(CAppMng* prmAppMng, const std::string& prmServer,
                                         const std::string& prmLocation,
                                         const std::string& prmDomain,
                                         const std::string& prmPassword, const std::string& prmUser,
                                         std::string& prmServerAddress, std::string& prmCGPAddress,
                                         std::string& prmTicketTag1, std::string& prmTicketTag2) {
  TCitrixAddress address;
  const TCitrixResult result =
      vantrel::GetAppAddress({prmAppMng, m_Limits, m_Cancel}, prmServer, prmLocation,
                             {prmUser, prmPassword, prmDomain}, address);
  if (result != kCitrixOK) return result;
  prmServerAddress = address.ServerAddress;
  prmCGPAddress = address.CGPAddress;
  prmTicketTag1 = address.TicketTag1;
  prmTicketTag2 = address.TicketTag2;
  return result;
}

uint8_t TXmlCitrixService::GetLogonTicket(CAppMng* prmAppMng, const std::string& prmServer,
                                          const std::string& prmUser,
                                          const std::string& prmTicketTag,
                                          const std::string& prmDomain,
                                          const std::string& prmPassword, std::string& prmTicket) {
  return vantrel::GetLogonTicket({prmAppMng, m_Limits, m_Cancel}, prmServer,
                                 {prmUser, prmPassword, prmDomain}, prmTicketTag, prmTicket);
}

uint8_t TXmlCitrixService::RequestDesktopAddress(
    CAppMng* prmAppMng, const std::string& prmController, const std::string& prmDesktopID,
    const std::string& prmUser, const std::string& prmPassword, const std::string& prmDomain,
    TDesktopAddress& prmAddress) {
  TCitrixAddress address;
  const TCitrixResult result =
      GetDesktopAddress({prmAppMng, m_Limits, m_Cancel}, prmController, prmDesktopID,
                        {prmUser, prmPassword, prmDomain}, address);
  if (result != kCitrixOK) return result;
  // The launch tells an absent element from an empty one.
  if (!address.ServerAddress.empty()) prmAddress.ServerAddress = address.ServerAddress;
  if (address.HasTicketTag) prmAddress.TicketTag = address.TicketTag;
  return result;
}

}  // namespace vantrel
