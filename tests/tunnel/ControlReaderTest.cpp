#include "tunnel/ControlReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "diag/Exceptions.h"

namespace vantrel {
namespace {

using Bytes = std::vector<uint8_t>;

// Hands out its chunks as separate reads (like separate TLS records); then "nothing now" or
// "closed"; reads listed in FailAt raise.
class TScriptSource : public IControlSource {
 public:
  std::deque<Bytes> Chunks;
  bool ClosedAtEnd = false;
  int FailFrom = -1;  // every read from this one on raises
  int Reads = 0;

  int Read(uint8_t* prmBuf, int prmLen) override {
    if (FailFrom >= 0 && Reads++ >= FailFrom) throw EBaseException("decrypt failed");
    if (Chunks.empty()) return ClosedAtEnd ? kClosed : 0;
    Bytes& c = Chunks.front();
    int n = std::min<int>(prmLen, static_cast<int>(c.size()));
    std::copy(c.begin(), c.begin() + n, prmBuf);
    c.erase(c.begin(), c.begin() + n);
    if (c.empty()) Chunks.pop_front();
    return n;
  }
  TWait Wait(int) override {
    return Chunks.empty() && FailFrom < 0 ? TWait::Stopped : TWait::Ready;
  }
};

struct TSeen {
  uint32_t Code;
  int Id;
  Bytes Payload;
};

class TRecordingDispatch : public IControlDispatch {
 public:
  std::vector<uint32_t> Headers;
  std::vector<TSeen> Messages;
  std::vector<std::pair<int, int>> DataPieces;  // identifier, size
  Bytes Data;

  int HeaderSize() const override { return kHeaderSize; }
  TLegacyAppHeader DecodeHdr(const uint8_t* prmHdr) const override { return DecodeHeader(prmHdr); }
  TPayload OnHeader(const TLegacyAppHeader& prmHdr) override {
    Headers.push_back(prmHdr.ActionCode);
    if (prmHdr.ActionCode == mcData) return TPayload::Data;
    if (prmHdr.ActionCode == mcTimers || prmHdr.ActionCode == mcTunnelUp) return TPayload::None;
    return TPayload::Read;
  }
  void OnData(int prmID, const uint8_t* prmBuf, int prmLen) override {
    DataPieces.emplace_back(prmID, prmLen);
    Data.insert(Data.end(), prmBuf, prmBuf + prmLen);
  }
  void OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload,
                 size_t prmLen) override {
    Messages.push_back(
        {prmHdr.ActionCode, prmHdr.RemotePort, Bytes(prmPayload, prmPayload + prmLen)});
  }
};

Bytes Msg(uint8_t prmCode, uint16_t prmId, int32_t prmLen, const Bytes& prmPayload = {}) {
  Bytes b(kHeaderSize, 0);
  b[0] = prmCode;
  b[10] = static_cast<uint8_t>(prmId >> 8);
  b[11] = static_cast<uint8_t>(prmId);
  for (int i = 0; i < 4; ++i)
    b[12 + i] = static_cast<uint8_t>(static_cast<uint32_t>(prmLen) >> (24 - 8 * i));
  b.insert(b.end(), prmPayload.begin(), prmPayload.end());
  return b;
}

Bytes Cat(std::initializer_list<Bytes> prmParts) {
  Bytes all;
  for (const Bytes& p : prmParts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Steps until the source has nothing more; returns the last step.
CControlReader::TStep RunAll(CControlReader& prmReader, int prmMaxSteps = 10000) {
  CControlReader::TStep s = CControlReader::TStep::Progress;
  for (int i = 0; i < prmMaxSteps; ++i) {
    s = prmReader.Step();
    if (s != CControlReader::TStep::Progress) return s;
  }
  ADD_FAILURE() << "reader did not settle";
  return s;
}

TEST(ControlReader, HeaderSplitAcrossRecordsAndTwoMessagesInOne) {
  TScriptSource src;
  Bytes first = Msg(mcUserName, 0, 3, {'b', 'o', 'b'});
  src.Chunks.push_back(Bytes(first.begin(), first.begin() + 5));
  src.Chunks.push_back(Bytes(first.begin() + 5, first.end()));
  src.Chunks.push_back(Cat({Msg(mcTunnelUp, 0, 0), Msg(mcPassword, 0, 2, {'p', 'w'})}));
  TRecordingDispatch d;
  CControlReader r(src, d);
  EXPECT_EQ(RunAll(r), CControlReader::TStep::Idle);
  ASSERT_EQ(d.Messages.size(), 3u);
  EXPECT_EQ(d.Messages[0].Payload, (Bytes{'b', 'o', 'b'}));
  EXPECT_EQ(d.Messages[1].Code, mcTunnelUp);
  EXPECT_EQ(d.Messages[2].Payload, (Bytes{'p', 'w'}));
}

TEST(ControlReader, PayloadsAreConsumedExactlyWhateverTheCode) {
  TScriptSource src;
  Bytes ten(10, 0xEE);
  // Unknown code with a payload, a timers answer whose length field is no payload length, and
  // data for an identifier nobody knows: every one leaves the stream at the next header.
  src.Chunks.push_back(Cat({Msg(77, 0, 10, ten), Msg(mcTimers, 0, 3600),
                            Msg(mcData, 600, 5, {1, 2, 3, 4, 5}), Msg(mcClose, 9, 0)}));
  TRecordingDispatch d;
  CControlReader r(src, d);
  RunAll(r);
  ASSERT_EQ(d.Messages.size(), 4u);
  EXPECT_EQ(d.Messages[0].Payload, ten);
  EXPECT_TRUE(d.Messages[1].Payload.empty());
  EXPECT_EQ(d.DataPieces, (std::vector<std::pair<int, int>>{{600, 5}}));
  EXPECT_EQ(d.Messages[3].Code, mcClose);
  EXPECT_EQ(d.Messages[3].Id, 9);
}

TEST(ControlReader, DataIsDeliveredInPiecesOfAtMost1024AcrossRecords) {
  TScriptSource src;
  Bytes payload(3000);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 13);
  Bytes all = Msg(mcData, 4, 3000, payload);
  // The payload trickles in over several records, with "nothing now" handled by waiting.
  for (size_t at = 0; at < all.size(); at += 700)
    src.Chunks.push_back(Bytes(all.begin() + at, all.begin() + std::min(all.size(), at + 700)));
  TRecordingDispatch d;
  CControlReader r(src, d);
  RunAll(r);
  EXPECT_EQ(d.Data, payload);
  for (auto [id, n] : d.DataPieces) {
    EXPECT_EQ(id, 4);
    EXPECT_LE(n, kMaxPayload);
  }
}

TEST(ControlReader, OversizedLengthIsRefusedBeforeAllocation) {
  TScriptSource src;
  src.Chunks.push_back(Msg(50, 0, 40000));
  TRecordingDispatch d;
  CControlReader r(src, d);
  try {
    RunAll(r);
    FAIL() << "no exception";
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "Control : Failed to allocate memory");
  }
  EXPECT_TRUE(d.Messages.empty());
}

TEST(ControlReader, LimitLengthIsAccepted) {
  TScriptSource src;
  src.Chunks.push_back(Msg(50, 0, kMaxMessageLen, Bytes(kMaxMessageLen, 1)));
  TRecordingDispatch d;
  CControlReader r(src, d);
  RunAll(r);
  ASSERT_EQ(d.Messages.size(), 1u);
  EXPECT_EQ(d.Messages[0].Payload.size(), static_cast<size_t>(kMaxMessageLen));
}

TEST(ControlReader, PersistentReadFailureCountsAsLost) {
  TScriptSource src;
  src.FailFrom = 0;
  TRecordingDispatch d;
  CControlReader r(src, d);
  int steps = 0;
  CControlReader::TStep s;
  while ((s = r.Step()) == CControlReader::TStep::Idle) ++steps;
  EXPECT_EQ(s, CControlReader::TStep::Closed);
  EXPECT_EQ(steps, CControlReader::kMaxReadFailures - 1);
}

TEST(ControlReader, FailuresInsideADataPayloadEndTheRead) {
  TScriptSource src;
  src.Chunks.push_back(Msg(mcData, 1, 2048, Bytes(100, 7)));
  src.FailFrom = 3;  // header, first piece; then the rest keeps failing
  TRecordingDispatch d;
  CControlReader r(src, d);
  EXPECT_EQ(RunAll(r), CControlReader::TStep::Closed);
}

TEST(ControlReader, ClosedPeerAndStopEndAPartialMessage) {
  TScriptSource closed;
  closed.Chunks.push_back(Bytes(7, 0));
  closed.ClosedAtEnd = true;
  TRecordingDispatch d;
  CControlReader r(closed, d);
  EXPECT_EQ(RunAll(r), CControlReader::TStep::Closed);

  TScriptSource stopped;  // a data payload that never completes, then the stop request
  stopped.Chunks.push_back(Msg(mcData, 2, 500, Bytes(10, 1)));
  CControlReader r2(stopped, d);
  EXPECT_EQ(RunAll(r2), CControlReader::TStep::Stopped);
}

}  // namespace
}  // namespace vantrel
