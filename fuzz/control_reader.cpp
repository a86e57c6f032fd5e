// Arbitrary byte streams fed to the control thread's message reader, in pieces whose sizes the
// input chooses, as TLS records would cut them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "diag/Exceptions.h"
#include "tunnel/ControlReader.h"

namespace {

using namespace vantrel;

class TFuzzSource : public IControlSource {
 public:
  TFuzzSource(const uint8_t* prmData, size_t prmSize) : m_Data(prmData), m_Size(prmSize) {}

  int Read(uint8_t* prmBuf, int prmLen) override {
    if (m_Pos >= m_Size) return kClosed;
    // Every few reads the input decides on a failure or on "nothing now".
    uint8_t ctl = m_Data[m_Pos++];
    if (ctl == 0xFF) throw EBaseException("decrypt failed");
    if (ctl == 0xFE) return 0;
    size_t n =
        std::min<size_t>({static_cast<size_t>(prmLen), m_Size - m_Pos, size_t(ctl % 64) + 1});
    std::memcpy(prmBuf, m_Data + m_Pos, n);
    m_Pos += n;
    return static_cast<int>(n);
  }
  TWait Wait(int) override { return m_Pos >= m_Size ? TWait::Stopped : TWait::Ready; }

 private:
  const uint8_t* m_Data;
  size_t m_Size;
  size_t m_Pos = 0;
};

class TFuzzDispatch : public IControlDispatch {
 public:
  int HeaderSize() const override { return kHeaderSize; }
  TLegacyAppHeader DecodeHdr(const uint8_t* prmHdr) const override { return DecodeHeader(prmHdr); }
  TPayload OnHeader(const TLegacyAppHeader& prmHdr) override {
    switch (prmHdr.ActionCode) {
      case mcData:
        return TPayload::Data;
      case mcTunnelUp:
      case mcConnReady:
      case mcTimers:
        return TPayload::None;
      default:
        return TPayload::Read;
    }
  }
  void OnData(int prmID, const uint8_t* prmBuf, int prmLen) override {
    if (prmLen < 1 || prmLen > kMaxPayload || prmID < 0) __builtin_trap();
    m_Sum += prmBuf[0] + prmBuf[prmLen - 1];
  }
  void OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload,
                 size_t prmLen) override {
    if (prmLen > static_cast<size_t>(kMaxMessageLen)) __builtin_trap();
    if (prmHdr.ActionCode == mcUserName) m_Sum += NameFromPayload(prmPayload, prmLen).size();
    if (prmLen > 0) m_Sum += prmPayload[prmLen - 1];
  }

 private:
  size_t m_Sum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  TFuzzSource source(prmData, prmSize);
  TFuzzDispatch dispatch;
  CControlReader reader(source, dispatch);
  try {
    // Each step consumes input or ends the stream, so this loop ends with the input.
    for (size_t steps = 0; steps <= 2 * prmSize + 16; ++steps) {
      CControlReader::TStep s = reader.Step();
      if (s == CControlReader::TStep::Closed || s == CControlReader::TStep::Stopped) break;
    }
  } catch (const EBaseException&) {
    // Oversized lengths end the control thread; that is the expected outcome.
  }
  return 0;
}
