#include "session/GatewayFileTrust.h"

#include <algorithm>
#include <vector>

#include "diag/DebugLog.h"
#include "platform/KnownGateways.h"
#include "tunnel/TCSProtocolBase.h"

namespace vantrel {

bool ApplyGatewayTrust(CURL* prmCurl, const CAppMng* prmTunnel, const std::string& prmHost,
                       int prmPort, std::string& prmError) {
  std::vector<std::string> keys = AdminGatewayPins();
  if (prmTunnel != nullptr) keys.push_back(prmTunnel->GatewayKeyFingerprint());
  TKnownGateways store;
  std::vector<TPinnedGateway> pins;
  if (!store.Load(pins, prmError)) return false;
  if (const TPinnedGateway* pin = TKnownGateways::Find(pins, prmHost, prmPort))
    keys.push_back(pin->Fingerprint);
  std::string pinList;
  for (const std::string& k : keys) {
    std::string p = CurlKeyPin(k);
    if (p.empty()) continue;
    if (!pinList.empty()) pinList += ";";
    pinList += p;
  }
  if (!pinList.empty()) {
    // The key decides; the chain and name were judged when it was accepted.
    curl_easy_setopt(prmCurl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(prmCurl, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(prmCurl, CURLOPT_PINNEDPUBLICKEY, pinList.c_str());
    return true;
  }
  WriteDebugLog("GetFile - no accepted gateway key, the certificate is verified");
  curl_easy_setopt(prmCurl, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(prmCurl, CURLOPT_SSL_VERIFYHOST, 2L);
  std::string file = TrustCAFile(), path = TrustCAPath();
  if (!file.empty()) curl_easy_setopt(prmCurl, CURLOPT_CAINFO, file.c_str());
  if (!path.empty()) curl_easy_setopt(prmCurl, CURLOPT_CAPATH, path.c_str());
  return true;
}

}  // namespace vantrel
