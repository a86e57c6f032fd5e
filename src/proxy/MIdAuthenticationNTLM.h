// The NTLM scheme of the legacy CONNECT procedure over GSSAPI with the NTLMSSP mechanism
// (gss-ntlmssp). The logged-on user is the default GSSAPI credential of the mechanism; explicit
// credentials are domain\user with a password. Used on the CONNECT call's thread only.
#pragma once

#include <gssapi/gssapi.h>

#include <memory>
#include <string>

#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"
#include "proxy/MIdAuthentication.h"

namespace vantrel {

// A failed security-package call: "SSPI <function> returns error #<status>(0x<status>): <text>".
class ESSPIException : public EBaseException {
 public:
  ESSPIException(const std::string& prmFunction, uint32_t prmStatus);
  using EBaseException::EBaseException;
};

// The text of a mechanism status: "Successfull API call" for 0, the library's own description
// otherwise, "Unknown error" when it has none.
std::string SSPIStatusText(uint32_t prmStatus);

// The challenge in the layout the mechanism reads (48-byte header and version field). Older
// servers, and squid's test helper, send a shorter header without the target information or the
// version (sometimes while flagging one); their payloads are moved behind a full header, and a
// payload that lies outside the message is dropped. A full challenge comes back unchanged.
TBytes FullChallengeLayout(const TBytes& prmChallenge);

// One NTLM handshake: credentials, then the type-1 and the type-3 token.
class TIndySSPINTLMClient {
 public:
  // Raises ESSPIException("SSPI interface has failed to initialise properly") when the NTLMSSP
  // mechanism is not installed.
  // prmTarget: the proxy's host name; GSSAPI wants a target even where NTLM does not check it.
  explicit TIndySSPINTLMClient(const std::string& prmTarget);
  ~TIndySSPINTLMClient();
  TIndySSPINTLMClient(const TIndySSPINTLMClient&) = delete;
  TIndySSPINTLMClient& operator=(const TIndySSPINTLMClient&) = delete;

  // Explicit credentials only when both prmDomain and prmUser are given; otherwise the logged-on
  // user's. Acquiring again releases the previous credentials.
  void SetCredentials(const std::string& prmDomain, const std::string& prmUser,
                      const std::string& prmPassword);
  TBytes InitAndBuildType1Message();
  TBytes UpdateAndBuildType3Message(const TBytes& prmType2);

 private:
  TBytes Step(const char* prmFunction, const TBytes* prmInput);
  void ReleaseContext();

  gss_name_t m_Target = GSS_C_NO_NAME;
  gss_cred_id_t m_Cred = GSS_C_NO_CREDENTIAL;
  gss_ctx_id_t m_Ctx = GSS_C_NO_CONTEXT;
};

class TIdSSPINTLMAuthentication : public TMIdAuthentication {
 public:
  int Steps() const override { return 3; }
  // "domain\user" sets both the domain and the user name.
  void SetUsername(const std::string& prmValue) override;
  std::string Authentication() override;
  bool KeepAlive() const override { return CurrentStep > 0; }
  void SetDomain(const std::string& prmValue) { SetParam("Domain", prmValue); }
  std::string GetDomain() const { return Param("Domain"); }
  // The proxy host the handshake is made with.
  void SetTarget(const std::string& prmHost) { FTarget = prmHost; }

 protected:
  TIdAuthWhatsNext DecideNext() override;

 private:
  std::string FNTLMInfo;
  std::string FTarget = "localhost";
  std::unique_ptr<TIndySSPINTLMClient> FSSPIClient;
};

}  // namespace vantrel
