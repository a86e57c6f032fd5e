// Arbitrary byte streams fed to the batch parser of the gateway's messages in pieces whose sizes
// the input chooses: whatever arrives, what it holds stays bounded and every data byte it hands
// over belongs to a data message.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "diag/Exceptions.h"
#include "tunnel/MessageParser.h"

namespace {

using namespace vantrel;

class TFuzzDispatch : public IControlDispatch, public IDataRunSink {
 public:
  int HeaderSize() const override { return kHeaderSize; }
  TLegacyAppHeader DecodeHdr(const uint8_t* prmHdr) const override { return DecodeHeader(prmHdr); }
  TPayload OnHeader(const TLegacyAppHeader& prmHdr) override {
    if (prmHdr.ActionCode == mcData) {
      m_DataDue += static_cast<uint64_t>(std::max<int32_t>(prmHdr.Len, 0));
      return TPayload::Data;
    }
    return prmHdr.ActionCode == mcTimers ? TPayload::None : TPayload::Read;
  }
  void OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t*, size_t prmLen) override {
    if (prmLen > static_cast<size_t>(kMaxMessageLen) || prmHdr.ActionCode == mcData)
      __builtin_trap();
  }
  void OnDataRun(int prmID, const iovec* prmParts, size_t prmCount, size_t prmBytes) override {
    size_t sum = 0;
    for (size_t i = 0; i < prmCount; ++i) sum += prmParts[i].iov_len;
    if (prmID < 0 || prmCount == 0 || prmCount > CMessageParser::kMaxRunParts || sum != prmBytes)
      __builtin_trap();
    m_DataGot += sum;
    if (m_DataGot > m_DataDue) __builtin_trap();
  }

 private:
  uint64_t m_DataDue = 0, m_DataGot = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  TFuzzDispatch d;
  CMessageParser parser(d, d);
  size_t pos = 0;
  try {
    while (pos < prmSize) {
      const size_t n = std::min<size_t>(prmSize - pos - 1, prmData[pos] * 17u + 1);
      parser.Feed(prmData + pos + 1, n);
      if (parser.HeldBytes() > kHeaderSize + static_cast<size_t>(kMaxMessageLen)) __builtin_trap();
      pos += n + 1;
    }
  } catch (const EBaseException&) {
    // An oversized answer ends the stream, as it ends the control thread.
  }
  return 0;
}
