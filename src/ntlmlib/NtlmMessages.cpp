#include "ntlmlib/NtlmMessages.h"

#include <openssl/crypto.h>

#include <cstring>

namespace vantrel::ntlm {
namespace {

constexpr uint8_t kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr uint16_t kAvEol = 0, kAvTimestamp = 7;

void Put16(TBytes& prmTo, uint16_t v) {
  prmTo.push_back(uint8_t(v));
  prmTo.push_back(uint8_t(v >> 8));
}
void Put32(TBytes& prmTo, uint32_t v) {
  for (int i = 0; i < 4; ++i) prmTo.push_back(uint8_t(v >> (8 * i)));
}
uint16_t Get16(const TBytes& b, size_t at) {
  return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t Get32(const TBytes& b, size_t at) {
  return uint32_t(Get16(b, at)) | uint32_t(Get16(b, at + 2)) << 16;
}

TBytes Header(uint32_t prmType) {
  TBytes out(kSignature, kSignature + 8);
  Put32(out, prmType);
  return out;
}

// Walks the AV pairs; false when a pair runs past the end or the list has no end marker.
bool ReadTimestamp(const TBytes& prmInfo, bool& prmHas, uint64_t& prmTime) {
  for (size_t at = 0; at + 4 <= prmInfo.size();) {
    uint16_t id = Get16(prmInfo, at), len = Get16(prmInfo, at + 2);
    if (at + 4 + len > prmInfo.size()) return false;
    if (id == kAvEol) return true;
    if (id == kAvTimestamp && len == 8) {
      prmHas = true;
      prmTime = uint64_t(Get32(prmInfo, at + 4)) | uint64_t(Get32(prmInfo, at + 8)) << 32;
    }
    at += 4 + len;
  }
  return false;
}

// The text fields of the authenticate message, in the character set the server chose.
TBytes Text(const std::string& prmText, bool prmUnicode) {
  return prmUnicode ? Utf16Le(prmText) : TBytes(prmText.begin(), prmText.end());
}

}  // namespace

TBytes BuildNegotiateMessage() {
  TBytes out = Header(1);
  Put32(out, kClientFlags);
  // Empty domain and workstation fields; their offsets point at the end of the message.
  for (int i = 0; i < 2; ++i) {
    Put16(out, 0);
    Put16(out, 0);
    Put32(out, 32);
  }
  return out;
}

bool ParseChallengeMessage(const TBytes& prmMsg, TChallengeMessage& prmOut) {
  if (prmMsg.size() < 32 || std::memcmp(prmMsg.data(), kSignature, 8) != 0 || Get32(prmMsg, 8) != 2)
    return false;
  TChallengeMessage msg;
  msg.Flags = Get32(prmMsg, 20);
  std::memcpy(msg.ServerChallenge.data(), prmMsg.data() + 24, 8);
  if (msg.Flags & kNegotiateTargetInfo) {
    if (prmMsg.size() < 48) return false;
    size_t len = Get16(prmMsg, 40), off = Get32(prmMsg, 44);
    if (off > prmMsg.size() || len > prmMsg.size() - off) return false;
    msg.TargetInfo.assign(prmMsg.begin() + off, prmMsg.begin() + off + len);
    if (!msg.TargetInfo.empty() && !ReadTimestamp(msg.TargetInfo, msg.HasTimestamp, msg.Timestamp))
      return false;
  }
  prmOut = std::move(msg);
  return true;
}

TBytes BuildAuthenticateMessage(const TChallengeMessage& prmChallenge,
                                const TAuthenticateInput& prmInput) {
  uint32_t flags = prmChallenge.Flags & (kClientFlags | kNegotiateTargetInfo);
  bool unicode = flags & kNegotiateUnicode;
  if (unicode) flags &= ~uint32_t(kNegotiateOem);
  uint64_t time = prmChallenge.HasTimestamp ? prmChallenge.Timestamp : prmInput.Time;

  TKey ntowf = NtowfV2(prmInput.NtHash, prmInput.User, prmInput.Domain);
  TBytes blob = NtlmV2Blob(time, prmInput.ClientChallenge, prmChallenge.TargetInfo);
  TBytes nt = NtlmV2Response(ntowf, prmChallenge.ServerChallenge, blob);
  TBytes lm = prmChallenge.HasTimestamp
                  ? TBytes(24, 0)
                  : LmV2Response(ntowf, prmChallenge.ServerChallenge, prmInput.ClientChallenge);
  OPENSSL_cleanse(ntowf.data(), ntowf.size());

  // Header fields in wire order: LM, NT, domain, user, workstation, session key (empty).
  const TBytes fields[] = {lm,
                           nt,
                           Text(prmInput.Domain, unicode),
                           Text(prmInput.User, unicode),
                           Text(prmInput.Workstation, unicode),
                           {}};
  constexpr uint32_t kPayloadStart = 64;
  TBytes out = Header(3);
  TBytes payload;
  for (const TBytes& f : fields) {
    Put16(out, uint16_t(f.size()));
    Put16(out, uint16_t(f.size()));
    Put32(out, kPayloadStart + uint32_t(payload.size()));
    payload.insert(payload.end(), f.begin(), f.end());
  }
  Put32(out, flags);
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

}  // namespace vantrel::ntlm
