#include "session/FileExchange.h"

#include <sstream>

#include "catalogue/OstraQuery.h"
#include "catalogue/TCSCodes.h"
#include "config/DbMng.h"
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/NetAddress.h"
#include "diag/TextCodecs.h"
#include "platform/Event.h"
#include "platform/KnownHosts.h"
#include "session/FileExchangeFormat.h"
#include "session/GatewayFileTrust.h"
#include "tunnel/LocalHost.h"
#include "tunnel/TCSProtocolBase.h"

namespace vantrel {

namespace {

std::string LoopbackURL(int prmLocalPort, const std::string& prmPath) {
  return "http://" + GetFixedLocalHostAddr() + ":" + std::to_string(prmLocalPort) + "/" + prmPath;
}

std::string ErrText(const char* prmPrefix, int prmCode) {
  return prmPrefix + std::to_string(prmCode);
}

}  // namespace

TFileExchange::TFileExchange(IFileExchangeHost& prmHost) : m_Host(prmHost) {}

bool TFileExchange::Cancelled() {
  return m_Host.InDestruction() || m_Host.GetStopEvent().IsSet();
}

void TFileExchange::HandlePendingMessages() {
  HWND wnd = m_Host.GetHWND();
  if (wnd != nullptr && wnd->IsWindowThread()) wnd->ProcessMessages();
}

bool TFileExchange::OpenListener(const std::string& prmDestIP, int prmDestPort, int& prmLocalPort) {
  CAppMng* tunnel = m_Host.GetProtocol();
  if (tunnel == nullptr || Cancelled()) return false;
  prmLocalPort = 0;
  return tunnel->AddConn(prmDestIP, prmDestPort, 0, prmLocalPort, nullptr, 0, 0, 0, false, false);
}

bool TFileExchange::ResolveThroughTunnel(const std::string& prmHost, std::string& prmAddr) {
  auto resolve = [this](const std::string& prmName) {
    CAppMng* tunnel = m_Host.GetProtocol();
    if (tunnel == nullptr || Cancelled()) return kResolveNotFound;
    return tunnel->ResolveHost(prmName);
  };
  return ResolveDotted(prmHost, resolve, prmAddr);
}

bool TFileExchange::GetFile(const std::string& prmURL, std::ostream& prmStream, int prmStatusID,
                            const std::string& prmStatusText, std::string& prmFailureInfo,
                            const std::string& prmProxy) {
  prmFailureInfo.clear();
  // Callers on the window thread and the connect thread rely on a result, never an escape.
  try {
    return DoGetFile(prmURL, prmStream, prmStatusID, prmStatusText, prmFailureInfo, prmProxy);
  } catch (const EBaseException& e) {
    WriteDebugLog("GetFile - " + e.GetMsg());
  } catch (const std::exception& e) {
    WriteDebugLog(std::string("GetFile - ") + e.what());
  } catch (...) {
  }
  prmFailureInfo = "GetFile - Unknown exception";
  return false;
}

bool TFileExchange::GetFile(const std::string& prmURL, std::string& prmBody, int prmStatusID,
                            const std::string& prmStatusText, std::string& prmFailureInfo,
                            const std::string& prmProxy) {
  std::ostringstream out;
  bool ok = GetFile(prmURL, out, prmStatusID, prmStatusText, prmFailureInfo, prmProxy);
  prmBody += out.str();
  return ok;
}

bool TFileExchange::DoGetFile(const std::string& prmURL, std::ostream& prmStream, int prmStatusID,
                              const std::string& prmStatusText, std::string& prmFailureInfo,
                              const std::string& prmProxy) {
  ITCSUserInterface& ui = m_Host.GetUI();
  ui.UpdateTCSStatus(prmStatusID, 0, prmStatusText);
  HandlePendingMessages();

  TTransferLimits limits = m_Limits;
  // A client package the user watches arrive is bounded by its size and stall time only.
  if (prmStatusID == TCS_STATUS_DOWNLOAD) limits.RequestMs = 0;
  TCurlRequest req(limits, [this] { return Cancelled(); });
  CURL* curl = req.Handle();
  const std::string url = ToAnsi(prmURL);
  const char* openFailure = nullptr;
  if (IsGatewayFile(url)) {
    if (!req.Valid()) {
      prmFailureInfo = ErrText("Open Handle 1-", CURLE_FAILED_INIT);
      return false;
    }
    // The session's proxy settings come from the environment, as libcurl reads them by default.
    std::string full = GatewayFileURL(m_Host.GetPlatformType(), m_Host.GetSP(), m_Host.GetSPPort(),
                                      m_Host.GetModID(), url.substr(8));
    curl_easy_setopt(curl, CURLOPT_URL, full.c_str());
    std::string trustError;
    if (!ApplyGatewayTrust(curl, m_Host.GetProtocol(), m_Host.GetSP(), m_Host.GetSPPort(),
                           trustError)) {
      WriteDebugLog("GetFile - " + trustError);
      prmFailureInfo = ErrText("Open URL 1-", CURLE_PEER_FAILED_VERIFICATION);
      return false;
    }
    req.AddHeader("Cookie: " + m_Host.GetSPCookie());
    openFailure = "Open URL 1-";
  } else if (!prmProxy.empty()) {
    std::string proxyHost, proxyAddr;
    int proxyPort = 80, localPort = 0;
    SplitHostPort(prmProxy, 80, proxyHost, proxyPort);
    if (!ResolveThroughTunnel(proxyHost, proxyAddr)) return false;
    if (!OpenListener(proxyAddr, proxyPort, localPort)) return false;
    if (!req.Valid()) {
      prmFailureInfo = ErrText("Open Handle 2-", CURLE_FAILED_INIT);
      return false;
    }
    std::string proxy = "http://" + GetFixedLocalHostAddr() + ":" + std::to_string(localPort);
    curl_easy_setopt(curl, CURLOPT_PROXY, proxy.c_str());
    // An empty list overrides no_proxy from the environment: everything goes to the listener.
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "");
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    openFailure = "Request 3-";
  } else {
    if (!req.Valid()) {
      prmFailureInfo = ErrText("Open Handle 3-", CURLE_FAILED_INIT);
      return false;
    }
    std::string host, addr, path;
    int port = 80, localPort = 0;
    SplitURL(url, host, port, path);
    if (!ResolveThroughTunnel(host, addr)) return false;
    if (!OpenListener(addr, port, localPort)) return false;
    std::string target = LoopbackURL(localPort, path);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
    openFailure = "Open Handle 3-";
  }

  TBlockReader reader(prmStream, [&](int prmPercent, uint64_t prmDone, uint64_t prmTotal) {
    ui.UpdateDownloadStatus(prmStatusID, prmPercent, prmStatusText, prmDone, prmTotal);
  });
  bool lengthKnown = false;
  req.SetBodySink([&](const char* prmData, size_t prmLen) {
    if (!lengthKnown) {
      reader.SetContentLength(req.ContentLength());
      lengthKnown = true;
    }
    reader.Feed(prmData, prmLen);
    return prmStream.good();
  });
  CURLcode rc = req.Perform();
  if (req.TooLarge()) {
    prmFailureInfo = kReplyTooLarge;
    return false;
  }
  // A reply cut by the deadline is a failed request, not a short answer.
  if (rc != CURLE_OK &&
      (req.ResponseCode() == 0 || req.Cancelled() || rc == CURLE_OPERATION_TIMEDOUT)) {
    prmFailureInfo = ErrText(openFailure, rc);
    return false;
  }
  if (!lengthKnown) reader.SetContentLength(req.ContentLength());
  reader.Finish();
  // Data that could not be stored is lost data, not a short read.
  if (!prmStream.good()) throw EBaseException("GetFile - Failed to write the stream");
  if (rc != CURLE_OK) WriteDebugLog("GetFile - Read ended early (" + std::to_string(rc) + ")");
  ui.UpdateTCSStatus(prmStatusID, 100, "");
  return true;
}

bool TFileExchange::PostFile(const std::string& prmURL, const std::string& prmReq,
                             std::string& prmRes) {
  std::string body = ToAnsi(prmReq);
  return PostBody("PostFile - ", prmURL, body.data(), body.size(), prmRes);
}

bool TFileExchange::PostFile2(const std::string& prmURL, const void* prmBody, size_t prmLen,
                              std::string& prmRes) {
  return PostBody("PostFile2 - ", prmURL, static_cast<const char*>(prmBody), prmLen, prmRes);
}

bool TFileExchange::PostBody(const char* prmPrefix, const std::string& prmURL, const char* prmBody,
                             size_t prmLen, std::string& prmRes) {
  const std::string prefix = prmPrefix;
  auto fail = [&](const std::string& prmText, int prmCode) {
    WriteDebugLog(prmText + std::to_string(prmCode) + ").");
    return false;
  };
  try {
    std::string host, path;
    int port = 80, localPort = 0;
    SplitURL(ToAnsi(prmURL), host, port, path);
    TCurlRequest req(m_Limits, [this] { return Cancelled(); });
    if (!OpenListener(host, port, localPort)) return false;
    if (!req.Valid()) {
      // The first text keeps the name it has always been logged under.
      std::string text = prefix == "PostFile - " ? "GetCitrixRest - " : prefix;
      return fail(text + "Failed to open Internet handle (", CURLE_FAILED_INIT);
    }
    req.SetXmlPost(LoopbackURL(localPort, path), host + ":" + std::to_string(port), prmBody,
                   prmLen);

    std::string raw;
    req.SetBodySink([&raw](const char* prmData, size_t prmLen) {
      raw.append(prmData, prmLen);
      return true;
    });
    CURLcode rc = req.Perform();
    if (rc != CURLE_OK) return fail(prefix + FailStepText(rc), rc);
    long code = req.ResponseCode();
    if (code != 200) {
      WriteDebugLog(prefix + "Got a non 200 response (" + std::to_string(code) + ")");
      return false;
    }
    if (!NeedsOwnChunkDecoding(req.HeaderLines())) {
      prmRes += raw;
      return true;
    }
    TChunkResult chunks = DecodeChunkedBody(raw, prmRes);
    if (chunks == TChunkResult::Complete) return true;
    // A cut or garbled body is a failed receive, not a shorter answer.
    WriteDebugLog(prefix + (chunks == TChunkResult::Truncated ? "Truncated chunked response"
                                                              : "Malformed chunked response"));
    return false;
  } catch (const EBaseException& e) {
    WriteDebugLog(prefix + e.GetMsg());
  } catch (const std::exception& e) {
    WriteDebugLog(prefix + e.what());
  }
  return false;
}

std::string TFileExchange::ProfileQuery(const char* prmPath) {
  CAppMng* tunnel = m_Host.GetProtocol();
  std::string user = tunnel != nullptr ? tunnel->GetUsername(true) : std::string();
  TDBMng& store = m_Host.GetDBMng();
  TOstraQuery query(store.GetOstraServer(), prmPath);
  query.AddEncoded("_instid", store.GetOstraInstance()).AddEncoded("_uname", user);
  return query.URL();
}

void TFileExchange::LoadUserProfile(std::string& prmOut) {
  prmOut.clear();
  std::string body, failure;
  if (!GetFile(ProfileQuery("/query/userprofile"), body, TCS_STATUS_GET_PROFILE, "", failure))
    return;
  try {
    std::string text = FromAnsi(FormURLDecode(body));
    std::vector<std::string> entries;
    size_t from = 0;
    while (!text.empty()) {
      size_t semi = text.find(';', from);
      entries.push_back(text.substr(from, semi - from));
      if (semi == std::string::npos) break;
      from = semi + 1;
    }
    SetUserProfile(std::move(entries));
  } catch (const EBaseException&) {
    WriteDebugLog("LoadUserProfile - Exception");
  }
}

void TFileExchange::SaveUserProfile() {
  if (m_Host.GetDBMng().GetOstraServer().empty()) return;
  std::string url = ProfileQuery("/object/userprofile") +
                    "&_userprofile=" + FormURLEncode(ToAnsi(GetUserProfileText()));
  std::string body, failure;
  GetFile(url, body, TCS_STATUS_NONE, "", failure);
}

void TFileExchange::ClearRDPCache(std::string& prmOut) {
  prmOut.clear();
  RemoveKnownHost(FreeRdpKnownHostsPath(), "127.0.0.1");
}

std::vector<std::string> TFileExchange::GetUserProfile() const {
  std::lock_guard<std::mutex> lock(m_ProfileLock);
  return m_UserProfile;
}

void TFileExchange::SetUserProfile(std::vector<std::string> prmEntries) {
  std::lock_guard<std::mutex> lock(m_ProfileLock);
  m_UserProfile = std::move(prmEntries);
}

std::string TFileExchange::GetUserProfileText() const {
  std::lock_guard<std::mutex> lock(m_ProfileLock);
  std::string text;
  for (size_t i = 0; i < m_UserProfile.size(); ++i) {
    if (i > 0) text += ';';
    text += m_UserProfile[i];
  }
  return text;
}

}  // namespace vantrel
