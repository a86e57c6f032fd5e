// The XML-service side of the ICA launches: each question of ICitrixService asked of the farm's
// service through the session's tunnel, within the limits and cancel test given at creation.
// Called on the window thread; each call blocks for its exchange.
#pragma once

#include <functional>

#include "citrix/CitrixService.h"
#include "platform/HttpRequest.h"

namespace vantrel {

class TXmlCitrixService final : public ICitrixService {
 public:
  // prmCancel: the session's stop request; true ends a waiting exchange.
  TXmlCitrixService(TTransferLimits prmLimits, std::function<bool()> prmCancel)
      : m_Limits(prmLimits), m_Cancel(std::move(prmCancel)) {}

  uint8_t GetAppAddress(CAppMng* prmAppMng, const std::string& prmServer,
                        const std::string& prmLocation, const std::string& prmDomain,
                        const std::string& prmPassword, const std::string& prmUser,
                        std::string& prmServerAddress, std::string& prmCGPAddress,
                        std::string& prmTicketTag1, std::string& prmTicketTag2) override;
  uint8_t GetLogonTicket(CAppMng* prmAppMng, const std::string& prmServer,
                         const std::string& prmUser, const std::string& prmTicketTag,
                         const std::string& prmDomain, const std::string& prmPassword,
                         std::string& prmTicket) override;
  uint8_t RequestDesktopAddress(CAppMng* prmAppMng, const std::string& prmController,
                                const std::string& prmDesktopID, const std::string& prmUser,
                                const std::string& prmPassword, const std::string& prmDomain,
                                TDesktopAddress& prmAddress) override;

 private:
  TTransferLimits m_Limits;
  std::function<bool()> m_Cancel;
};

}  // namespace vantrel
