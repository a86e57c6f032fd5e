// What the ICA launches ask of the XenApp XML service: which server runs an application or a
// desktop, and a logon ticket. Declared here so the launches can be built and tested against any
// service; the XML-service exchange implements it. Called on the window thread; each call blocks
// for its whole exchange through the tunnel.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "citrix/XmlReplies.h"

namespace vantrel {

class CAppMng;

// The elements of a successful desktop address reply the launch reads; unset when absent.
struct TDesktopAddress {
  std::optional<std::string> ServerAddress{};
  std::optional<std::string> TicketTag{};
};

class ICitrixService {
 public:
  virtual ~ICitrixService() = default;

  // The application address request to prmServer (a host, or host:port): on CTX_OK the server
  // address (with ":1494" when it named no port; empty for "0.0.0.0"), the CGP address ("*:"
  // before a bare port) and the ticket tag split at its first ":".
  virtual uint8_t GetAppAddress(CAppMng* prmAppMng, const std::string& prmServer,
                                const std::string& prmLocation, const std::string& prmDomain,
                                const std::string& prmPassword, const std::string& prmUser,
                                std::string& prmServerAddress, std::string& prmCGPAddress,
                                std::string& prmTicketTag1, std::string& prmTicketTag2) = 0;

  // The logon ticket for a ticket tag; on CTX_OK the ticket (empty when the reply had none).
  virtual uint8_t GetLogonTicket(CAppMng* prmAppMng, const std::string& prmServer,
                                 const std::string& prmUser, const std::string& prmTicketTag,
                                 const std::string& prmDomain, const std::string& prmPassword,
                                 std::string& prmTicket) = 0;

  // The desktop address request (version 4.6) to the controller (a host, or host:port, default
  // port 80). Not CTX_OK when the controller does not resolve, the exchange failed or the reply
  // carries "ErrorId".
  virtual uint8_t RequestDesktopAddress(CAppMng* prmAppMng, const std::string& prmController,
                                        const std::string& prmDesktopID, const std::string& prmUser,
                                        const std::string& prmPassword,
                                        const std::string& prmDomain,
                                        TDesktopAddress& prmAddress) = 0;
};

}  // namespace vantrel
