// Record framing and the plaintext queue against arbitrary bytes: framing must never claim more
// than it was given, and the queue must hand back exactly what went in, in order.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tls/RecvQueue.h"
#include "tls/TlsRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  using namespace vantrel;
  size_t pos = 0;
  while (pos < prmSize) {
    TRecordCheck c = CheckRecord(prmData + pos, prmSize - pos);
    if (c.State != TRecordState::Complete) break;
    if (c.Len < kTlsRecordHeaderLen || c.Len > kTlsMaxRecordLen || c.Len > prmSize - pos) abort();
    pos += c.Len;
  }

  // Chunk sizes and request sizes both come from the input.
  TRecvQueue q;
  std::vector<uint8_t> in(prmData, prmData + prmSize), out;
  for (size_t i = 0; i < prmSize;) {
    size_t n = std::min<size_t>(prmData[i] % 64 + 1, prmSize - i);
    q.PutRecvdBuf(prmData + i, n);
    i += n;
    uint8_t buf[97];
    size_t want = prmData[i - 1] % sizeof(buf);
    size_t got = q.GetRecvdData(buf, want);
    out.insert(out.end(), buf, buf + got);
  }
  uint8_t buf[256];
  while (size_t got = q.GetRecvdData(buf, sizeof(buf))) out.insert(out.end(), buf, buf + got);
  if (out != in) abort();
  return 0;
}
