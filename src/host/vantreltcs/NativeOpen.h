// The browser's first message to a native-messaging host, and the host's one answer to it:
//   {"open":{"origin":"https://portal.example","params":{"NAME":"VALUE",...},"dialogs":"page"}}
//   {"opened":true}  or  {"opened":false,"error":"TEXT"}
// "origin" is what the browser reported for the calling tab (set by the extension, never by the
// page); "dialogs" is "page" or "native" (absent: native). After {"opened":true} the channel
// carries the page protocol (PageProtocol.h).
#pragma once

#include <string>

#include "control/PropertyBag.h"
#include "host/vantreltcs/PageProtocol.h"

namespace vantrel::host {

enum class TDialogPlace { Native, Page };

struct TOpenRequest {
  std::string Origin;
  TJson Params = TJson::object();
  TDialogPlace Dialogs = TDialogPlace::Native;
};

// The request's form. Raises EBaseException with the text for the refusal.
TOpenRequest ParseOpenRequest(const std::string& prmMessage);
// The start parameters, checked as a session file's are. Raises EBaseException with the
// checker's text (never a value).
TMapPropertyBag OpenParams(const TOpenRequest& prmRequest);

std::string EncodeOpened();
std::string EncodeNotOpened(const std::string& prmError);
std::string PortalNotAllowed(const std::string& prmOrigin);

// Reads the first frame from prmFd, taking no byte beyond it. False with the reason when the
// input ended or broke, the frame is larger than the bound, prmStopFd became readable, or
// nothing whole came within prmTimeoutMs.
bool ReadFirstFrame(int prmFd, int prmStopFd, int prmTimeoutMs, std::string& prmMessage,
                    std::string& prmWhy);
// Writes one framed message at once (before any channel exists); false when it could not.
bool WriteFrameNow(int prmFd, const std::string& prmMessage);

}  // namespace vantrel::host
