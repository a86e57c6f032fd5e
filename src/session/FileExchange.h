// The session's HTTP primitives and the user profile: gateway files fetched over HTTPS with the
// portal cookie, requests to servers inside the protected network carried through a tunnel
// listener, and the profile list kept on the availability server.
#pragma once

#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "platform/HttpRequest.h"
#include "session/FileExchangeHost.h"

namespace vantrel {

// GetFile's failure text for a reply over the size limit.
constexpr const char* kReplyTooLarge = "GetFile - Reply too large";

class TFileExchange {
 public:
  // prmHost must outlive this object.
  explicit TFileExchange(IFileExchangeHost& prmHost);

  // Connect, stall, deadline and size limits of every transfer; tests shorten them. A reply
  // larger than the size limit fails the fetch (GetFile: kReplyTooLarge) or the POST (a receive
  // failure); a request still running at its deadline fails the same way as one that could not
  // be opened. Downloads of client packages (status TCS_STATUS_DOWNLOAD) have no deadline.
  void SetLimits(const TTransferLimits& prmLimits) { m_Limits = prmLimits; }
  const TTransferLimits& Limits() const { return m_Limits; }

  // "local://" + path (gateway file), or "http://" host[:port]/path (through the tunnel, directly
  // or via prmProxy = "host:port"). Never raises. True when the read loop ran to its end; false
  // with prmFailureInfo set (or left empty where the failure has no text). prmStatusID -1: no
  // status reports.
  bool GetFile(const std::string& prmURL, std::ostream& prmStream, int prmStatusID,
               const std::string& prmStatusText, std::string& prmFailureInfo,
               const std::string& prmProxy = "");
  // The same, with the body appended to prmBody.
  bool GetFile(const std::string& prmURL, std::string& prmBody, int prmStatusID,
               const std::string& prmStatusText, std::string& prmFailureInfo,
               const std::string& prmProxy = "");

  // POST of a text body (sent as the wire's 8-bit text) through the tunnel; true on status 200
  // with the reply body appended to prmRes. Never raises; failures are logged.
  bool PostFile(const std::string& prmURL, const std::string& prmReq, std::string& prmRes);
  bool PostFile2(const std::string& prmURL, const void* prmBody, size_t prmLen,
                 std::string& prmRes);

  // Fills the profile list from the availability server; prmOut is always emptied.
  void LoadUserProfile(std::string& prmOut);
  // Sends the profile list when an availability server is configured; the reply is ignored.
  void SaveUserProfile();
  // Forgets the RDP client's stored record of the loopback server; failures are ignored.
  static void ClearRDPCache(std::string& prmOut);

  // m_UserProfile: "name=value" entries, ";" between them in its delimited text.
  std::vector<std::string> GetUserProfile() const;
  void SetUserProfile(std::vector<std::string> prmEntries);
  std::string GetUserProfileText() const;

 private:
  bool DoGetFile(const std::string& prmURL, std::ostream& prmStream, int prmStatusID,
                 const std::string& prmStatusText, std::string& prmFailureInfo,
                 const std::string& prmProxy);
  bool PostBody(const char* prmPrefix, const std::string& prmURL, const char* prmBody,
                size_t prmLen, std::string& prmRes);
  // A forwarded listener to prmDest:prmPort; false when there is no tunnel or it refused.
  bool OpenListener(const std::string& prmDestIP, int prmDestPort, int& prmLocalPort);
  // prmHost itself when dotted, else resolved through the tunnel; false when not resolved.
  bool ResolveThroughTunnel(const std::string& prmHost, std::string& prmAddr);
  bool Cancelled();
  void HandlePendingMessages();
  std::string ProfileQuery(const char* prmPath);

  IFileExchangeHost& m_Host;
  TTransferLimits m_Limits;
  mutable std::mutex m_ProfileLock;
  std::vector<std::string> m_UserProfile;
};

}  // namespace vantrel
