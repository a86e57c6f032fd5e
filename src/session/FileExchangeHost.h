// What the file exchange (gateway files, requests through the tunnel, the user profile) needs
// from the session manager that owns it. The manager implements it; the exchange reaches nothing
// of the manager except through this interface.
#pragma once

#include <string>

#include "catalogue/SessionServices.h"
#include "platform/Window.h"

namespace vantrel {

class CAppMng;

// Contract: every operation may be called from any thread that fetches (the connect thread, the
// window thread, desktop request threads). Before the owner frees the tunnel or the store it sets
// the in-destruction flag and signals GetStopEvent(); transfers in progress then end promptly and
// no new one starts. The values of the gateway getters do not change once start-up began.
class IFileExchangeHost : public virtual ISessionServices {
 public:
  // The tunnel manager, or nullptr when there is none (not started, failed, or being freed).
  virtual CAppMng* GetProtocol() = 0;
  // The control's window: a fetch made on its thread first handles the pending messages.
  // nullptr when there is none.
  virtual HWND GetHWND() = 0;

  // Gateway host ("sp_name"), port, cookie header value and module identifier.
  virtual std::string GetSP() = 0;
  virtual int GetSPPort() = 0;
  virtual std::string GetSPCookie() = 0;
  virtual std::string GetModID() = 0;
  // 1: legacy-header gateway, 2: first-protocol gateway.
  virtual int GetPlatformType() = 0;
};

}  // namespace vantrel
