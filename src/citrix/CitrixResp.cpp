#include "citrix/CitrixResp.h"

#include "citrix/ChunkedBody.h"
#include "diag/DebugLog.h"
#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "tunnel/LocalHost.h"
#include "tunnel/TCSProtocolBase.h"

namespace vantrel {

namespace {

// The largest piece the reply is read in.
constexpr long kReadPieceBytes = 32768;

bool Fail(const std::string& prmText, int prmCode) {
  WriteDebugLog(prmText + std::to_string(prmCode) + ").");
  return false;
}

// A listener for this exchange; false when the tunnel refused or raised.
bool OpenListener(CAppMng& prmTunnel, const std::string& prmHost, int prmPort, int& prmLocalPort) {
  prmLocalPort = 0;
  try {
    return prmTunnel.AddConn(prmHost, prmPort, 0, prmLocalPort, nullptr, 0, 0, 0, false, false);
  } catch (const EBaseException& e) {
    WriteDebugLog("GetCitrixResp - " + e.GetMsg());
  }
  return false;
}

// The reply body as it arrives: appended as sent, or read as the service's own chunked coding
// when its headers say so (they are known before the first piece).
class TReplyBody {
 public:
  TReplyBody(TCurlRequest& prmRequest, size_t prmMaxBody)
      : m_Request(prmRequest), m_Chunks(prmMaxBody) {}

  // False ends the transfer: the chunked reading stopped.
  bool Take(const char* prmData, size_t prmLen) {
    if (!m_ModeKnown) {
      m_ModeKnown = true;
      m_Chunked = NeedsOwnChunkDecoding(m_Request.HeaderLines());
    }
    if (!m_Chunked) {
      WriteDebugLog("GetCitrixResp - Writing data " + std::to_string(prmLen));
      m_Plain.append(prmData, prmLen);
      return true;
    }
    m_Chunks.Feed(std::string_view(prmData, prmLen));
    return !m_Chunks.Stopped() && !m_Chunks.Finished();
  }
  // The chunked reading stopped on a bad size or a chunk over the bound.
  bool Stopped() const { return m_Chunked && m_Chunks.Stopped(); }
  // The chunked reading ended by itself (its last chunk read) before the peer closed.
  bool Finished() const { return m_Chunked && m_Chunks.Finished(); }
  bool Chunked() const { return m_Chunked; }
  const std::string& Body() const { return m_Chunked ? m_Chunks.Body() : m_Plain; }

 private:
  TCurlRequest& m_Request;
  bool m_ModeKnown = false;
  bool m_Chunked = false;
  std::string m_Plain;
  TChunkedReader m_Chunks;
};

void ParseReply(const std::string& prmBody, TXmlDoc& prmReply) {
  prmReply = TXmlDoc::ParseBytes(prmBody.data(), prmBody.size());
  if (prmReply.IsValid()) return;
  WriteDebugLog("GetCitrixResp - Exception while loading XML " + prmReply.GetError());
  WriteDebugLog(prmBody.substr(0, kMaxLoggedReply));
}

}  // namespace

bool GetCitrixResp(const TCitrixLink& prmLink, const std::string& prmHost, int prmPort,
                   const TXmlDoc& prmRequest, TXmlDoc& prmReply) {
  WriteDebugLog("GetCitrixResp - Begin");
  prmReply = TXmlDoc();
  if (prmLink.Tunnel == nullptr || (prmLink.Cancel && prmLink.Cancel())) return false;
  const std::string hostPort = prmHost + ":" + std::to_string(prmPort);
  WriteDebugLog("GetCitrixResp - Connecting to " + hostPort);
  TCurlRequest request(prmLink.Limits, prmLink.Cancel);
  int localPort = 0;
  if (!OpenListener(*prmLink.Tunnel, prmHost, prmPort, localPort)) return false;
  WriteDebugLog("GetCitrixResp - Connection established");
  if (!request.Valid())
    return Fail("GetCitrixRest - Failed to open Internet handle (", CURLE_FAILED_INIT);

  const std::string body = ToAnsi(prmRequest.SaveToString(false));
  const std::string url =
      "http://" + GetFixedLocalHostAddr() + ":" + std::to_string(localPort) + kCitrixServicePath;
  request.SetXmlPost(url, hostPort, body.data(), body.size());
  curl_easy_setopt(request.Handle(), CURLOPT_BUFFERSIZE, kReadPieceBytes);
  TReplyBody reply(request, prmLink.Limits.MaxBodyBytes);
  request.SetBodySink(
      [&reply](const char* prmData, size_t prmLen) { return reply.Take(prmData, prmLen); });

  const CURLcode rc = request.Perform();
  // Ending the transfer from the body sink is the chunked reading's own end, not a failure.
  const bool endedByReader = rc == CURLE_WRITE_ERROR && (reply.Stopped() || reply.Finished());
  if (rc != CURLE_OK && !endedByReader)
    return Fail(std::string("GetCitrixResp - ") + FailStepText(rc), rc);
  const std::string status = std::to_string(request.ResponseCode());
  WriteDebugLog("GetCitrixResp - Result is " + status);
  if (status != "200" && status != "100") {
    WriteDebugLog("GetCitrixResp - Got a non 200 response (" + status + ")");
    return false;
  }
  // A chunked body that could not be read is answered, but not parsed.
  if (reply.Stopped()) return true;
  if (reply.Chunked()) WriteDebugLog("GetCitrixResp - Finished reading all chuncks");
  ParseReply(reply.Body(), prmReply);
  return true;
}

}  // namespace vantrel
