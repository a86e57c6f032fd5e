// One exchange with a XenApp XML service: the request document POSTed through a tunnel listener of
// its own, the reply read (by hand when the service announces its own chunked coding) and parsed.
// Synchronous: it blocks its calling thread until the reply is read, the limits end it or the
// cancel test answers true.
#pragma once

#include <functional>
#include <string>

#include "diag/Xml.h"
#include "platform/HttpRequest.h"

namespace vantrel {

class CAppMng;

// How the exchanges of one caller reach the services, and how long they may take.
struct TCitrixLink {
  // The session's tunnel manager; nullptr: no exchange is possible.
  CAppMng* Tunnel = nullptr;
  // Connect, stall, deadline and reply-size bounds of each exchange; tests shorten them.
  TTransferLimits Limits;
  // Polled while a request waits; true ends it (the session's stop request).
  std::function<bool()> Cancel;
};

// The service's path on every server.
constexpr const char* kCitrixServicePath = "/scripts/wpnbr.dll";
// Reply text written to the debug log after a parse error, at most.
constexpr size_t kMaxLoggedReply = 8192;

// POSTs prmRequest to the service at prmHost (dotted) and prmPort. True when a reply with status
// 200 or 100 was read; prmReply then holds its document, or stays invalid when the body was not
// XML or the chunked body could not be read. False on no tunnel, a listener that could not be
// opened, an HTTP failure, another status, a reply over the size bound, the deadline or a cancel.
bool GetCitrixResp(const TCitrixLink& prmLink, const std::string& prmHost, int prmPort,
                   const TXmlDoc& prmRequest, TXmlDoc& prmReply);

}  // namespace vantrel
