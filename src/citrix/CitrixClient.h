// The installed ICA client as the Citrix launches see it: its program, found once at start-up
// (and again after an installation), and its major version. The program is process-wide: it is
// written by the session's connect thread and read by launches on the window thread, so it is
// kept under a lock.
#pragma once

#include <string>

#include "platform/IcaClient.h"

namespace vantrel {

// Looks for the client and remembers it; logs "Citrix client location is " + its folder.
void FindCitrixClient();
void FindCitrixClient(const TIcaClientSources& prmSources);
// Whether FindCitrixClient found a client.
bool XenAppClientInstalled();
// The client program found last; empty when none.
std::string CitrixClientProgram();
// Its folder; empty when none.
std::string CitrixClientLocation();

// The major number of the installed client's version; 0 when it cannot be told (then no CGP).
int GetICAMajVersion();
// The integer before the first "." of a version text; 0 without a "." or a number there.
int ICAMajorFromVersion(const std::string& prmVersion);

}  // namespace vantrel
