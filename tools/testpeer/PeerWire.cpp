#include "testpeer/PeerWire.h"

namespace vantrel::testpeer {

namespace {

void PutBE16(TBytes& prmOut, uint16_t prmValue) {
  prmOut.push_back(static_cast<uint8_t>(prmValue >> 8));
  prmOut.push_back(static_cast<uint8_t>(prmValue));
}

void PutBytes(TBytes& prmOut, const std::array<uint8_t, 4>& prmBytes) {
  prmOut.insert(prmOut.end(), prmBytes.begin(), prmBytes.end());
}

uint16_t GetBE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t GetBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint32_t GetLE32(const uint8_t* p) {
  return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

// Reads a length-prefixed text; false when it runs past the end.
bool GetCountedText(const TBytes& prmData, size_t& prmPos, std::string& prmText) {
  if (prmPos >= prmData.size()) return false;
  size_t n = prmData[prmPos++];
  if (prmData.size() - prmPos < n) return false;
  prmText.assign(reinterpret_cast<const char*>(prmData.data() + prmPos), n);
  prmPos += n;
  return true;
}

bool AllZero(const TBytes& prmData, size_t prmFrom, size_t prmCount) {
  for (size_t i = prmFrom; i < prmFrom + prmCount; ++i)
    if (prmData[i] != 0) return false;
  return true;
}

}  // namespace

size_t HeaderSize(TProtocol prmProtocol) {
  return prmProtocol == TProtocol::First ? kFirstHeaderSize : kLegacyHeaderSize;
}

const char* ProtocolName(TProtocol prmProtocol) {
  return prmProtocol == TProtocol::First ? "first" : "legacy";
}

TWireHeader DecodeHeader(TProtocol prmProtocol, const uint8_t* prmData) {
  TWireHeader h;
  const uint8_t* p = prmData;
  if (prmProtocol == TProtocol::First) {
    h.ActionCode = GetLE32(p);
    p += 4;
  } else {
    h.ActionCode = *p++;
  }
  std::copy(p, p + 4, h.ListenIP.begin());
  h.ListenPort = GetBE16(p + 4);
  h.RemotePort = GetBE16(p + 6);
  h.Len = GetBE32(p + 8);
  return h;
}

TBytes EncodeHeader(TProtocol prmProtocol, const TWireHeader& prmHeader) {
  TBytes out;
  out.reserve(HeaderSize(prmProtocol));
  if (prmProtocol == TProtocol::First)
    PutBytes(out, LittleEndian32(prmHeader.ActionCode));
  else
    out.push_back(static_cast<uint8_t>(prmHeader.ActionCode));
  PutBytes(out, prmHeader.ListenIP);
  PutBE16(out, prmHeader.ListenPort);
  PutBE16(out, prmHeader.RemotePort);
  PutBytes(out, BigEndian32(prmHeader.Len));
  return out;
}

std::array<uint8_t, 4> BigEndian32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

std::array<uint8_t, 4> LittleEndian32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

uint32_t ReadBigEndian32(const std::array<uint8_t, 4>& prmBytes) {
  return GetBE32(prmBytes.data());
}

uint32_t FirstProtocolDestAddr(const TWireHeader& prmHeader) {
  return GetLE32(prmHeader.ListenIP.data());
}

bool ParseLegacyOpen(const TBytes& prmPayload, uint32_t& prmAddr, uint16_t& prmPort) {
  if (prmPayload.size() != 8 || prmPayload[0] != 0 || prmPayload[1] != 4) return false;
  prmPort = GetBE16(prmPayload.data() + 2);
  prmAddr = GetBE32(prmPayload.data() + 4);
  return true;
}

bool ParseLogRecord(const TBytes& prmPayload, TLogRecord& prmRecord, std::string& prmError) {
  TLogRecord r = prmRecord;
  size_t pos = 0;
  if (prmPayload.empty()) {
    prmError = "empty log record";
    return false;
  }
  r.Level = prmPayload[pos++];
  if (!GetCountedText(prmPayload, pos, r.Protocol) || prmPayload.size() - pos < 8) {
    prmError = "log record truncated in the protocol";
    return false;
  }
  if (!AllZero(prmPayload, pos, 4)) {
    prmError = "log record gap after the protocol is not zero";
    return false;
  }
  r.Dest = GetLE32(prmPayload.data() + pos + 4);
  pos += 8;
  if (!GetCountedText(prmPayload, pos, r.DestName) || prmPayload.size() - pos < 14) {
    prmError = "log record truncated in the destination name";
    return false;
  }
  if (!AllZero(prmPayload, pos, 14)) {
    prmError = "log record gap after the destination name is not zero";
    return false;
  }
  pos += 14;
  if (!GetCountedText(prmPayload, pos, r.Message)) {
    prmError = "log record truncated in the message";
    return false;
  }
  if (pos != prmPayload.size()) {
    prmError = "log record has " + std::to_string(prmPayload.size() - pos) + " bytes too many";
    return false;
  }
  prmRecord = std::move(r);
  return true;
}

std::string FormatLogRecord(const TLogRecord& r) {
  return "log level=" + std::to_string(r.Level) + " protocol=\"" + r.Protocol +
         "\" dest=" + std::to_string(r.Dest) + " destname=\"" + r.DestName + "\" msg=\"" +
         r.Message + "\"";
}

bool MatchTemplate(std::string_view prmTemplate, std::string_view prmText,
                   std::vector<std::string>& prmValues) {
  std::vector<std::string> values;
  size_t t = 0, x = 0;
  while (t < prmTemplate.size()) {
    size_t ph = prmTemplate.find("%s", t);
    std::string_view literal = prmTemplate.substr(t, ph == std::string_view::npos ? ph : ph - t);
    if (prmText.substr(x, literal.size()) != literal) return false;
    x += literal.size();
    if (ph == std::string_view::npos) break;
    t = ph + 2;
    // The value runs to the next line end; the template always follows a value with one.
    size_t end = prmText.find("\r\n", x);
    if (end == std::string_view::npos) return false;
    std::string_view value = prmText.substr(x, end - x);
    if (value.find('\n') != std::string_view::npos) return false;
    values.emplace_back(value);
    x = end;
  }
  if (x != prmText.size()) return false;
  prmValues = std::move(values);
  return true;
}

bool HexToBytes(std::string_view prmHex, TBytes& prmBytes) {
  TBytes out;
  int high = -1;
  for (char c : prmHex) {
    if (c == ' ') continue;
    int v = (c >= '0' && c <= '9')   ? c - '0'
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                     : -1;
    if (v < 0) return false;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return false;
  prmBytes = std::move(out);
  return true;
}

}  // namespace vantrel::testpeer

namespace vantrel::testpeer {

TBytes EncodeMessage(TProtocol prmProtocol, const TWireHeader& prmHeader,
                     const TBytes& prmPayload) {
  TBytes out = EncodeHeader(prmProtocol, prmHeader);
  out.insert(out.end(), prmPayload.begin(), prmPayload.end());
  return out;
}

TWireHeader GatewayHeader(uint32_t prmCode, uint16_t prmId, uint32_t prmLen) {
  TWireHeader h;
  h.ActionCode = prmCode;
  h.RemotePort = prmId;
  h.Len = prmLen;
  return h;
}

}  // namespace vantrel::testpeer
