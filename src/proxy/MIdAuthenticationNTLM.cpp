#include "proxy/MIdAuthenticationNTLM.h"

#include <gssapi/gssapi_ext.h>

#include <algorithm>
#include <cstring>

namespace vantrel {

namespace {

gss_OID_desc kNtlmSsp = {10, const_cast<char*>("\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a")};

// A handshake's computation gave up without a message of its own; the caller ends the attempt.
struct EAbortAuth {};

bool NtlmSspInstalled() {
  OM_uint32 minor = 0;
  gss_OID_set mechs = GSS_C_NO_OID_SET;
  if (GSS_ERROR(gss_indicate_mechs(&minor, &mechs))) return false;
  int present = 0;
  gss_test_oid_set_member(&minor, &kNtlmSsp, mechs, &present);
  gss_release_oid_set(&minor, &mechs);
  return present != 0;
}

class TOidSet {
 public:
  TOidSet() {
    OM_uint32 minor = 0;
    gss_create_empty_oid_set(&minor, &m_Set);
    gss_add_oid_set_member(&minor, &kNtlmSsp, &m_Set);
  }
  ~TOidSet() {
    OM_uint32 minor = 0;
    gss_release_oid_set(&minor, &m_Set);
  }
  gss_OID_set Get() const { return m_Set; }

 private:
  gss_OID_set m_Set = GSS_C_NO_OID_SET;
};

constexpr size_t kShortestChallenge = 32;
constexpr size_t kFullHeader = 56;
constexpr size_t kTargetName = 12;
constexpr size_t kTargetInfo = 40;

uint32_t Le32(const TBytes& prmBytes, size_t prmAt) {
  return prmBytes[prmAt] | prmBytes[prmAt + 1] << 8 | prmBytes[prmAt + 2] << 16 |
         static_cast<uint32_t>(prmBytes[prmAt + 3]) << 24;
}
void PutLe(TBytes& prmBytes, size_t prmAt, uint32_t prmValue, int prmSize) {
  for (int i = 0; i < prmSize; ++i) prmBytes[prmAt + i] = static_cast<uint8_t>(prmValue >> (8 * i));
}

// A payload field (length, maximum length, offset at prmField) that lies inside the message.
bool FieldInside(const TBytes& prmMsg, size_t prmField, size_t& prmOffset, size_t& prmLen) {
  prmLen = prmMsg[prmField] | prmMsg[prmField + 1] << 8;
  prmOffset = Le32(prmMsg, prmField + 4);
  return prmLen > 0 && prmOffset >= kShortestChallenge && prmOffset <= prmMsg.size() &&
         prmLen <= prmMsg.size() - prmOffset;
}

}  // namespace

TBytes FullChallengeLayout(const TBytes& prmChallenge) {
  if (prmChallenge.size() < kShortestChallenge) return prmChallenge;
  size_t header = prmChallenge.size(), offset = 0, len = 0;
  for (size_t field : {kTargetName, kTargetInfo})
    if (field + 8 <= header && FieldInside(prmChallenge, field, offset, len))
      header = std::min(header, offset);
  if (header >= kFullHeader) return prmChallenge;
  TBytes out(prmChallenge.begin(), prmChallenge.begin() + kShortestChallenge);
  out.resize(kFullHeader, 0);
  for (size_t field : {kTargetName, kTargetInfo}) {
    const bool present = field + 8 <= header && FieldInside(prmChallenge, field, offset, len);
    if (!present) len = 0;
    PutLe(out, field, static_cast<uint32_t>(len), 2);
    PutLe(out, field + 2, static_cast<uint32_t>(len), 2);
    PutLe(out, field + 4, static_cast<uint32_t>(out.size()), 4);
    if (present)
      out.insert(out.end(), prmChallenge.begin() + static_cast<std::ptrdiff_t>(offset),
                 prmChallenge.begin() + static_cast<std::ptrdiff_t>(offset + len));
  }
  return out;
}

std::string SSPIStatusText(uint32_t prmStatus) {
  if (prmStatus == 0) return "Successfull API call";
  OM_uint32 minor = 0, ctx = 0;
  gss_buffer_desc text = GSS_C_EMPTY_BUFFER;
  if (GSS_ERROR(gss_display_status(&minor, prmStatus, GSS_C_GSS_CODE, GSS_C_NO_OID, &ctx, &text)) ||
      text.length == 0)
    return "Unknown error";
  std::string out(static_cast<const char*>(text.value), text.length);
  gss_release_buffer(&minor, &text);
  return out;
}

ESSPIException::ESSPIException(const std::string& prmFunction, uint32_t prmStatus)
    : EBaseException(FormatMsg(
          "SSPI %s returns error #%d(0x%x): %s",
          {prmFunction, static_cast<int32_t>(prmStatus), prmStatus, SSPIStatusText(prmStatus)})) {}

TIndySSPINTLMClient::TIndySSPINTLMClient(const std::string& prmTarget) {
  if (!NtlmSspInstalled())
    throw ESSPIException(std::string("SSPI interface has failed to initialise properly"));
  std::string service = "HTTP@" + prmTarget;
  gss_buffer_desc name{service.size(), service.data()};
  OM_uint32 minor = 0;
  const OM_uint32 major = gss_import_name(&minor, &name, GSS_C_NT_HOSTBASED_SERVICE, &m_Target);
  if (GSS_ERROR(major)) throw ESSPIException("gss_import_name", major);
}

TIndySSPINTLMClient::~TIndySSPINTLMClient() {
  ReleaseContext();
  OM_uint32 minor = 0;
  if (m_Cred != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &m_Cred);
  if (m_Target != GSS_C_NO_NAME) gss_release_name(&minor, &m_Target);
}

void TIndySSPINTLMClient::ReleaseContext() {
  OM_uint32 minor = 0;
  if (m_Ctx != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &m_Ctx, GSS_C_NO_BUFFER);
}

void TIndySSPINTLMClient::SetCredentials(const std::string& prmDomain, const std::string& prmUser,
                                         const std::string& prmPassword) {
  OM_uint32 minor = 0;
  if (m_Cred != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &m_Cred);
  TOidSet mechs;
  OM_uint32 major = 0;
  if (prmDomain.empty() || prmUser.empty()) {
    major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, mechs.Get(), GSS_C_INITIATE,
                             &m_Cred, nullptr, nullptr);
    if (GSS_ERROR(major)) throw ESSPIException("gss_acquire_cred", major);
    return;
  }
  std::string principal = prmDomain + "\\" + prmUser;
  gss_buffer_desc nameBuf{principal.size(), principal.data()};
  gss_name_t name = GSS_C_NO_NAME;
  major = gss_import_name(&minor, &nameBuf, GSS_C_NT_USER_NAME, &name);
  if (GSS_ERROR(major)) throw ESSPIException("gss_import_name", major);
  std::string secret = prmPassword;
  gss_buffer_desc password{secret.size(), secret.data()};
  major = gss_acquire_cred_with_password(&minor, name, &password, GSS_C_INDEFINITE, mechs.Get(),
                                         GSS_C_INITIATE, &m_Cred, nullptr, nullptr);
  std::memset(secret.data(), 0, secret.size());
  gss_release_name(&minor, &name);
  if (GSS_ERROR(major)) throw ESSPIException("gss_acquire_cred_with_password", major);
}

TBytes TIndySSPINTLMClient::InitAndBuildType1Message() {
  ReleaseContext();
  return Step("gss_init_sec_context", nullptr);
}

TBytes TIndySSPINTLMClient::UpdateAndBuildType3Message(const TBytes& prmType2) {
  const TBytes type2 = FullChallengeLayout(prmType2);
  return Step("gss_init_sec_context", &type2);
}

TBytes TIndySSPINTLMClient::Step(const char* prmFunction, const TBytes* prmInput) {
  OM_uint32 minor = 0;
  gss_buffer_desc in = GSS_C_EMPTY_BUFFER;
  if (prmInput != nullptr) {
    in.length = prmInput->size();
    in.value = const_cast<uint8_t*>(prmInput->data());
  }
  gss_buffer_desc out = GSS_C_EMPTY_BUFFER;
  const OM_uint32 major = gss_init_sec_context(
      &minor, m_Cred, &m_Ctx, m_Target, &kNtlmSsp, 0, GSS_C_INDEFINITE, GSS_C_NO_CHANNEL_BINDINGS,
      prmInput ? &in : GSS_C_NO_BUFFER, nullptr, &out, nullptr, nullptr);
  TBytes token(static_cast<const uint8_t*>(out.value),
               static_cast<const uint8_t*>(out.value) + out.length);
  gss_release_buffer(&minor, &out);
  if (GSS_ERROR(major)) throw ESSPIException(prmFunction, major);
  return token;
}

TIdAuthWhatsNext TIdSSPINTLMAuthentication::DecideNext() {
  switch (CurrentStep) {
    case 0:
      CurrentStep = 1;
      return wnAskTheProgram;
    case 1:
      CurrentStep = 2;
      return wnDoRequest;
    case 2:
      return wnDoRequest;
    default:
      return wnFail;
  }
}

void TIdSSPINTLMAuthentication::SetUsername(const std::string& prmValue) {
  const size_t slash = prmValue.find('\\');
  if (slash == std::string::npos) {
    TMIdAuthentication::SetUsername(prmValue);
    return;
  }
  SetDomain(prmValue.substr(0, slash));
  TMIdAuthentication::SetUsername(prmValue.substr(slash + 1));
}

std::string TIdSSPINTLMAuthentication::Authentication() {
  switch (CurrentStep) {
    case 1: {
      if (!FSSPIClient) FSSPIClient = std::make_unique<TIndySSPINTLMClient>(FTarget);
      if (Username().empty())
        FSSPIClient->SetCredentials({}, {}, {});
      else
        FSSPIClient->SetCredentials(GetDomain(), Username(), Password());
      const TBytes type1 = FSSPIClient->InitAndBuildType1Message();
      FNTLMInfo.clear();
      return "NTLM " + Base64Encode(type1.data(), type1.size());
    }
    case 2: {
      if (FNTLMInfo.empty()) FNTLMInfo = OfferAfterScheme("NTLM");
      if (FNTLMInfo.empty() || !FSSPIClient) {
        Reset();
        throw EAbortAuth();
      }
      const TBytes type3 = FSSPIClient->UpdateAndBuildType3Message(Base64Decode(FNTLMInfo));
      CurrentStep = 3;
      return "NTLM " + Base64Encode(type3.data(), type3.size());
    }
    case 3:
      CurrentStep = 4;
      return {};
    default:
      return {};
  }
}

}  // namespace vantrel
