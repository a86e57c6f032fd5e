// Bulk framing both ways: application reads cut into data messages, large decrypted buffers
// parsed into runs per connection, and the bounded output towards an application.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "diag/Exceptions.h"
#include "tunnel/ConnOutput.h"
#include "tunnel/ControlSource.h"
#include "tunnel/DataBatch.h"
#include "tunnel/LegacyWire.h"
#include "tunnel/MessageParser.h"
#include "tunnel/SendGroup.h"

namespace vantrel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t prmLen, uint8_t prmSeed = 0) {
  Bytes b(prmLen);
  for (size_t i = 0; i < prmLen; ++i) b[i] = static_cast<uint8_t>(i * 7 + prmSeed);
  return b;
}

// prmData through a socket pair into the batch's slots, as a relay reads its application.
template <typename TEncode>
std::span<const uint8_t> ReadInto(TDataBatch& prmBatch, const Bytes& prmData,
                                  const TLegacyAppHeader& prmHdr, TEncode prmEncode) {
  int sp[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sp), 0);
  int big = 1 << 20;
  setsockopt(sp[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  EXPECT_EQ(write(sp[0], prmData.data(), prmData.size()), static_cast<ssize_t>(prmData.size()));
  ssize_t n = readv(sp[1], prmBatch.Slots(), static_cast<int>(prmBatch.SlotCount()));
  close(sp[0]);
  close(sp[1]);
  return prmBatch.Seal(prmHdr, n > 0 ? static_cast<size_t>(n) : 0, prmEncode);
}

TEST(DataBatch, OneReadBecomesBackToBackMessagesWithEitherHeader) {
  const uint32_t dest = 0x7f000005, loopback = 0x7f000001;  // 127.0.0.5, 127.0.0.1
  const Bytes data = Pattern(3000);
  struct TCase {
    int HeaderSize;
    void (*Encode)(const TLegacyAppHeader&, uint8_t*);
    TLegacyAppHeader Hdr;
    Bytes FirstHeader, LastHeader;
  } cases[] = {
      {kHeaderSize,
       &EncodeHeader,
       {0, dest, 3389, 3, 0},
       {0x06, 0, 0, 0, 0x05, 0, 0, 0x7f, 0x0d, 0x3d, 0, 0x03, 0, 0, 0x04, 0x00},
       {0x06, 0, 0, 0, 0x05, 0, 0, 0x7f, 0x0d, 0x3d, 0, 0x03, 0, 0, 0x03, 0xb8}},
      {kLegacyHeaderSize,
       &EncodeLegacyHeader,
       {0, loopback, kLegacyConnPort, 3, 0},
       {0x06, 0x7f, 0, 0, 0x01, 0x00, 0x87, 0, 0x03, 0, 0, 0x04, 0x00},
       {0x06, 0x7f, 0, 0, 0x01, 0x00, 0x87, 0, 0x03, 0, 0, 0x03, 0xb8}},
  };
  for (const TCase& c : cases) {
    TDataBatch batch(c.HeaderSize);
    EXPECT_EQ(batch.SlotCount(), kRelayReadSize / 1024);
    std::span<const uint8_t> out = ReadInto(batch, data, c.Hdr, c.Encode);
    const size_t hs = static_cast<size_t>(c.HeaderSize);
    ASSERT_EQ(out.size(), 3000 + 3 * hs);  // 1024, 1024 and 952 bytes
    EXPECT_EQ(Bytes(out.begin(), out.begin() + hs), c.FirstHeader);
    const size_t last = 2 * (hs + 1024);
    EXPECT_EQ(Bytes(out.begin() + last, out.begin() + last + hs), c.LastHeader);
    Bytes payload;
    for (size_t at = 0; at < out.size(); at += hs + 1024)
      payload.insert(payload.end(), out.begin() + at + hs,
                     out.begin() + std::min(out.size(), at + hs + 1024));
    EXPECT_EQ(payload, data);
    EXPECT_TRUE(batch.Seal(c.Hdr, 0, c.Encode).empty());
  }
}

// Records what the parser hands over; adjacent runs of one connection are merged, since where a
// run is cut depends only on the buffers it came in.
class TRecorder : public IControlDispatch, public IDataRunSink {
 public:
  explicit TRecorder(bool prmLegacy) : m_Legacy(prmLegacy) {}
  std::vector<std::string> Events;

  int HeaderSize() const override { return m_Legacy ? kLegacyHeaderSize : kHeaderSize; }
  TLegacyAppHeader DecodeHdr(const uint8_t* prmHdr) const override {
    return m_Legacy ? DecodeLegacyHeader(prmHdr) : DecodeHeader(prmHdr);
  }
  TPayload OnHeader(const TLegacyAppHeader& prmHdr) override {
    // A data header has no reaction of its own; where it falls between runs is not recorded.
    if (prmHdr.ActionCode == mcData) return TPayload::Data;
    Events.push_back("header " + std::to_string(prmHdr.ActionCode));
    return prmHdr.ActionCode == mcTimers ? TPayload::None : TPayload::Read;
  }
  void OnMessage(const TLegacyAppHeader& prmHdr, const uint8_t* prmPayload,
                 size_t prmLen) override {
    Events.push_back("message " + std::to_string(prmHdr.ActionCode) + " " +
                     std::string(prmPayload, prmPayload + prmLen));
  }
  void OnDataRun(int prmID, const iovec* prmParts, size_t prmCount, size_t prmBytes) override {
    std::string text;
    for (size_t i = 0; i < prmCount; ++i)
      text.append(static_cast<const char*>(prmParts[i].iov_base), prmParts[i].iov_len);
    EXPECT_EQ(text.size(), prmBytes);
    const std::string prefix = "run " + std::to_string(prmID) + " ";
    if (!Events.empty() && Events.back().rfind(prefix, 0) == 0)
      Events.back() += text;
    else
      Events.push_back(prefix + text);
  }

 private:
  bool m_Legacy;
};

// A gateway message in either header layout (they agree on the fields read here).
Bytes GatewayMsg(bool prmLegacy, uint8_t prmCode, uint16_t prmId, int32_t prmLen,
                 const std::string& prmPayload = "") {
  const size_t hs = prmLegacy ? kLegacyHeaderSize : kHeaderSize;
  Bytes b(hs, 0);
  b[0] = prmCode;
  const size_t id = prmLegacy ? 7 : 10, len = prmLegacy ? 9 : 12;
  b[id] = static_cast<uint8_t>(prmId >> 8);
  b[id + 1] = static_cast<uint8_t>(prmId);
  for (size_t i = 0; i < 4; ++i)
    b[len + i] = static_cast<uint8_t>(static_cast<uint32_t>(prmLen) >> (24 - 8 * i));
  b.insert(b.end(), prmPayload.begin(), prmPayload.end());
  return b;
}

TEST(MessageParser, SameDispatchWhereverTheBufferIsCut) {
  for (bool legacy : {false, true}) {
    SCOPED_TRACE(legacy ? "legacy" : "first");
    Bytes stream;
    for (const Bytes& m : {GatewayMsg(legacy, 6, 3, 3, "abc"), GatewayMsg(legacy, 6, 3, 4, "defg"),
                           GatewayMsg(legacy, 6, 5, 2, "xy"), GatewayMsg(legacy, 18, 0, 3, "bob"),
                           GatewayMsg(legacy, 6, 3, 1, "h"), GatewayMsg(legacy, 23, 0, 300),
                           GatewayMsg(legacy, 6, 9, 0), GatewayMsg(legacy, 81, 0, 2, "zz")})
      stream.insert(stream.end(), m.begin(), m.end());
    const std::vector<std::string> expected = {"run 3 abcdefg",  "run 5 xy",  "header 18",
                                               "message 18 bob", "run 3 h",   "header 23",
                                               "message 23 ",    "header 81", "message 81 zz"};
    // Whole, cut once at every position, and one byte at a time.
    for (size_t cut = 0; cut <= stream.size() + 1; ++cut) {
      TRecorder rec(legacy);
      CMessageParser parser(rec, rec);
      if (cut <= stream.size()) {
        parser.Feed(stream.data(), cut);
        parser.Feed(stream.data() + cut, stream.size() - cut);
      } else {
        for (uint8_t b : stream) parser.Feed(&b, 1);
      }
      EXPECT_EQ(rec.Events, expected) << "cut at " << cut;
      EXPECT_EQ(parser.HeldBytes(), 0u);
    }
  }
}

TEST(MessageParser, HoldsOnlyIncompleteMessagesAndRefusesOversizedAnswers) {
  TRecorder rec(false);
  CMessageParser parser(rec, rec);
  // A truncated answer is held whole, nothing dispatched for it until its last byte.
  Bytes name = GatewayMsg(false, 19, 0, 5, "pass!");
  parser.Feed(name.data(), name.size() - 1);
  EXPECT_EQ(parser.HeldBytes(), name.size() - 1);
  EXPECT_EQ(rec.Events, std::vector<std::string>{"header 19"});  // its first reaction
  parser.Feed(&name.back(), 1);
  EXPECT_EQ(rec.Events.back(), "message 19 pass!");

  // An answer of the longest length allowed is held and dispatched whole.
  const std::string longest(kMaxMessageLen, 'n');
  Bytes limit = GatewayMsg(false, 18, 0, kMaxMessageLen, longest);
  parser.Feed(limit.data(), limit.size());
  EXPECT_EQ(rec.Events.back(), "message 18 " + longest);

  // A data message far longer than one message may carry is streamed, never held.
  Bytes big = GatewayMsg(false, 6, 4, 100000);
  parser.Feed(big.data(), big.size());
  const Bytes chunk(40000, 'q');
  for (int i = 0; i < 2; ++i) parser.Feed(chunk.data(), chunk.size());
  EXPECT_EQ(parser.HeldBytes(), static_cast<size_t>(kHeaderSize));  // its header, no data
  EXPECT_EQ(rec.Events.back(), "run 4 " + std::string(80000, 'q'));

  // An answer above the limit ends parsing, after the data in front of it was delivered.
  Bytes tail(20000, 'r');
  Bytes over = GatewayMsg(false, 18, 0, 40000);
  tail.insert(tail.end(), over.begin(), over.end());
  try {
    parser.Feed(tail.data(), tail.size());
    ADD_FAILURE() << "no exception";
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "Control : Failed to allocate memory");
  }
  EXPECT_EQ(rec.Events[rec.Events.size() - 2],
            "run 4 " + std::string(80000, 'q') + std::string(20000, 'r'));
  EXPECT_EQ(rec.Events.back(), "header 18");
}

// Legacy headers are laid out alike in both directions, so a relay's messages parse back.
TEST(MessageParser, ParsesBackWhatTheRelayRead) {
  const Bytes data = Pattern(kRelayReadSize);
  TDataBatch batch(kLegacyHeaderSize);
  std::span<const uint8_t> wire =
      ReadInto(batch, data, {0, 0, kLegacyConnPort, 7, 0}, &EncodeLegacyHeader);
  TRecorder rec(true);
  CMessageParser parser(rec, rec);
  parser.Feed(wire.data(), wire.size());
  ASSERT_EQ(rec.Events.size(), 1u);  // 64 messages, one run
  EXPECT_EQ(rec.Events.back(), "run 7 " + std::string(data.begin(), data.end()));
}

// Reads that keep raising end the control connection; one good read resets the count.
TEST(ControlSource, PersistentReadFailureCountsAsLost) {
  struct TFailing : IControlSource {
    int Good = 0;  // reads that succeed before the rest raise
    int Read(uint8_t*, int) override {
      if (Good-- > 0) return 1;
      throw EBaseException("decrypt failed");
    }
    TWait Wait(int) override { return TWait::Ready; }
  } src;
  uint8_t b;
  int failures = 0;
  for (int i = 1; i < kMaxReadFailures; ++i) EXPECT_EQ(ReadCounted(src, &b, 1, failures), 0);
  src.Good = 1;
  EXPECT_EQ(ReadCounted(src, &b, 1, failures), 1);
  for (int i = 1; i < kMaxReadFailures; ++i) EXPECT_EQ(ReadCounted(src, &b, 1, failures), 0);
  EXPECT_EQ(ReadCounted(src, &b, 1, failures), IControlSource::kClosed);
}

// Senders that queue while another holds the send lock go out together, in arrival order, each
// with the result of the write that carried it; a lone sender writes alone.
TEST(SendGroup, WhoeverHoldsTheLockWritesWhatOthersQueued) {
  std::recursive_mutex lock;
  std::vector<std::string> writes;
  bool fail = false;
  TSendGroup group(lock, [&](const iovec* prmParts, size_t prmCount, std::string& prmError) {
    std::string w;
    for (size_t i = 0; i < prmCount; ++i)
      w.append(static_cast<const char*>(prmParts[i].iov_base), prmParts[i].iov_len) += '|';
    writes.push_back(w);
    prmError = "refused";
    return !fail;
  });
  std::string error;
  EXPECT_TRUE(group.Send(reinterpret_cast<const uint8_t*>("solo"), 4, error));
  EXPECT_EQ(writes, std::vector<std::string>{"solo|"});
  for (bool failing : {false, true}) {
    writes.clear();
    fail = failing;
    std::vector<std::thread> senders;
    std::vector<std::string> errors(3);
    bool results[3] = {failing, failing, failing};
    const char* texts[] = {"a", "bb", "ccc"};
    {
      std::lock_guard held(lock);
      for (size_t i = 0; i < 3; ++i) {
        senders.emplace_back([&, i] {
          results[i] = group.Send(reinterpret_cast<const uint8_t*>(texts[i]), std::strlen(texts[i]),
                                  errors[i]);
        });
        while (group.Waiting() < i + 1) std::this_thread::yield();  // one at a time, in order
      }
      // The lock's holder writes too (the lock is taken again on the same thread).
      EXPECT_EQ(group.Send(reinterpret_cast<const uint8_t*>("d"), 1, error), !failing);
    }
    for (std::thread& t : senders) t.join();
    EXPECT_EQ(writes, std::vector<std::string>{"a|bb|ccc|d|"});
    for (size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(results[i], !failing);
      EXPECT_EQ(errors[i], failing ? "refused" : "");
    }
  }
}

struct TSocketPair {
  int Fd[2] = {-1, -1};
  TSocketPair() {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Fd), 0);
    int small = 64 * 1024;
    setsockopt(Fd[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    fcntl(Fd[1], F_SETFL, O_NONBLOCK);
  }
  ~TSocketPair() {
    for (int fd : Fd)
      if (fd >= 0) close(fd);
  }
  // Everything readable now.
  Bytes Drain() {
    Bytes all;
    uint8_t buf[65536];
    ssize_t n;
    while ((n = read(Fd[1], buf, sizeof buf)) > 0) all.insert(all.end(), buf, buf + n);
    return all;
  }
};

TEST(ConnOutput, KeepsWhatTheApplicationCannotTakeInOrderUpToTheBound) {
  TSocketPair sp;
  TConnOutput out;
  const Bytes a = Pattern(3 << 20, 1), b = Pattern(2 << 20, 2);
  iovec partsA[] = {{const_cast<uint8_t*>(a.data()), 1000},
                    {const_cast<uint8_t*>(a.data()) + 1000, a.size() - 1000}};
  EXPECT_EQ(out.Write(sp.Fd[0], partsA, 2), TConnOutput::TResult::Pending);
  EXPECT_FALSE(out.OverBound());
  iovec partB{const_cast<uint8_t*>(b.data()), b.size()};
  EXPECT_EQ(out.Write(sp.Fd[0], &partB, 1), TConnOutput::TResult::Pending);
  EXPECT_TRUE(out.OverBound());  // the caller stalls on this application now

  Bytes got;
  for (int i = 0; i < 10000 && out.Queued() > 0; ++i) {
    Bytes more = sp.Drain();
    got.insert(got.end(), more.begin(), more.end());
    ASSERT_NE(out.Flush(sp.Fd[0]), TConnOutput::TResult::Failed);
  }
  Bytes rest = sp.Drain();
  got.insert(got.end(), rest.begin(), rest.end());
  Bytes expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(got, expected);

  // Written straight through when nothing waits; a gone application fails and frees the queue.
  EXPECT_EQ(out.Write(sp.Fd[0], &partsA[0], 1), TConnOutput::TResult::Done);
  EXPECT_EQ(sp.Drain().size(), 1000u);
  close(sp.Fd[1]);
  sp.Fd[1] = -1;
  EXPECT_EQ(out.Write(sp.Fd[0], &partB, 1), TConnOutput::TResult::Failed);
  EXPECT_EQ(out.Error(), EPIPE);
  EXPECT_EQ(out.Queued(), 0u);
}

}  // namespace
}  // namespace vantrel
