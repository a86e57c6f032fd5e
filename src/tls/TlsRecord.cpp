#include "tls/TlsRecord.h"

namespace vantrel {

namespace {
constexpr uint8_t kTypeChangeCipherSpec = 20;
constexpr uint8_t kTypeHeartbeat = 24;
constexpr uint8_t kMajorVersion = 3;
}  // namespace

TRecordCheck CheckRecord(const uint8_t* prmData, size_t prmLen) {
  TRecordCheck res;
  if (prmLen == 0) return res;
  res.Type = prmData[0];
  if (res.Type < kTypeChangeCipherSpec || res.Type > kTypeHeartbeat) {
    res.State = TRecordState::Invalid;
    return res;
  }
  if (prmLen >= 2 && prmData[1] != kMajorVersion) {
    res.State = TRecordState::Invalid;
    return res;
  }
  if (prmLen < kTlsRecordHeaderLen) return res;
  size_t body = (size_t(prmData[3]) << 8) | prmData[4];
  if (body > kTlsMaxRecordBody) {
    res.State = TRecordState::Invalid;
    return res;
  }
  if (prmLen < kTlsRecordHeaderLen + body) return res;
  res.State = TRecordState::Complete;
  res.Len = kTlsRecordHeaderLen + body;
  return res;
}

}  // namespace vantrel
