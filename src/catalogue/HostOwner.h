// What a desktop record needs from the session that owns it. The session manager implements it;
// the record reaches nothing above the catalogue except through this interface.
#pragma once

#include <cstdint>
#include <string>

#include "catalogue/SessionServices.h"

namespace vantrel {

// Contract towards the record's request threads (state query, wake-up monitor): every operation
// may be called from them. Before the owner frees what these operations use (tunnel, store,
// window) it signals GetStopEvent() and then stops its hosts (THost::StopRequests or their
// destruction, which join those threads). FetchOstra must return in bounded time, and promptly
// once the stop event is signalled.
class IHostOwner : public virtual ISessionServices {
 public:
  // An HTTP GET to the availability server carried through the tunnel. prmURL is program text;
  // the fetch converts it to the wire's 8-bit text. True with the reply body, or false with a
  // failure text.
  virtual bool FetchOstra(const std::string& prmURL, std::string& prmBody,
                          std::string& prmFailText) = 0;

  // The tunnel's credentials: prmNoAlt true gives the portal user's own, false the effective
  // ones (the alternate desktop credentials when set, else the portal user's).
  virtual std::string GetUsername(bool prmNoAlt) = 0;
  virtual std::string GetPassword(bool prmNoAlt) = 0;

  // Name resolution through the tunnel: an IPv4 address in network byte order, or
  // kResolveNotFound / kResolveNotYet (diag/NetAddress.h).
  virtual uint32_t ResolveHost(const std::string& prmHost) = 0;

  // Reports an error code with its extra text to the user (never blocks).
  virtual void ReportError(int prmErrorID, const std::string& prmExtra) = 0;

  // Posts a desktop's new status (WM_HostStateChanged to the session's window); never blocks.
  virtual void PostHostStatus(int prmIndex, int prmStatus) = 0;
};

}  // namespace vantrel
