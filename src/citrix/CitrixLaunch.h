// Launching published XenApp applications and XenDesktop desktops in the local ICA client: ask
// the XML service where the application or desktop runs and for a logon ticket, open tunnel
// listeners to that server (and to its CGP port with newer clients), write the ICA settings file
// and start the client on it. Called on the window thread, which they block for the whole
// exchange; every failure ends the launch, the ones the user must see in an error box.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace vantrel {

class CAppMng;
class ICitrixService;
class IDialogs;
class TDBMng;
class TDPP;
class TXenApp;

// What a launch uses besides its arguments; all borrowed for the call.
struct TCitrixLaunchEnv {
  ICitrixService& Service;
  IDialogs& Dialogs;
  // Required: takes over a started client program, which the launch does not wait for; the
  // taker reaps it (the session's launch worker does so for the RDP client).
  std::function<void(pid_t)> WatchClient;
};

// The application's farm servers are asked in order; the credentials are the farm's.
void LaunchApp(TXenApp& prmApp, CAppMng& prmAppMng, const TDPP& prmDPP, const TDBMng& prmDBMng,
               const std::string& prmUser, const std::string& prmPassword,
               const std::string& prmDomain, const TCitrixLaunchEnv& prmEnv);

// prmController: a host, or host:port.
void LaunchXenDesktop(const std::string& prmDesktopID, const std::string& prmDescription,
                      const std::string& prmController, CAppMng& prmAppMng, const TDBMng& prmDBMng,
                      const TDPP& prmDPP, const std::string& prmUser,
                      const std::string& prmPassword, const std::string& prmDomain,
                      const TCitrixLaunchEnv& prmEnv);

// The error box's text for a result code of the application address request.
std::string NoServerText(int prmCode);

}  // namespace vantrel
