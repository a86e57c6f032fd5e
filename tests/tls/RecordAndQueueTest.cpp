#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tls/ChannelBios.h"
#include "tls/RecvQueue.h"
#include "tls/TlsRecord.h"

namespace vantrel {
namespace {

std::vector<uint8_t> Record(uint8_t prmType, size_t prmBody) {
  // Sized first and the header written in place: gcc 12 misreads the growth under -O3.
  std::vector<uint8_t> r(5 + prmBody, 0xAB);
  r[0] = prmType;
  r[1] = 3;
  r[2] = 3;
  r[3] = uint8_t(prmBody >> 8);
  r[4] = uint8_t(prmBody);
  return r;
}

TEST(TlsRecord, CompleteOnlyWithTheWholeBody) {
  auto r = Record(23, 300);
  for (size_t n : {size_t(0), size_t(1), size_t(4), size_t(5), size_t(304)}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(CheckRecord(r.data(), n).State, TRecordState::Incomplete);
  }
  TRecordCheck c = CheckRecord(r.data(), r.size());
  EXPECT_EQ(c.State, TRecordState::Complete);
  EXPECT_EQ(c.Len, 305u);
  EXPECT_EQ(c.Type, 23);
  // Bytes of a following record do not change the verdict on the first.
  r.push_back(23);
  EXPECT_EQ(CheckRecord(r.data(), r.size()).Len, 305u);
  // An empty record is a record.
  auto empty = Record(23, 0);
  EXPECT_EQ(CheckRecord(empty.data(), empty.size()).Len, 5u);
}

TEST(TlsRecord, RejectsWhatNoPeerSends) {
  auto big = Record(23, kTlsMaxRecordBody + 1);
  EXPECT_EQ(CheckRecord(big.data(), 5).State, TRecordState::Invalid);
  auto largest = Record(23, kTlsMaxRecordBody);
  EXPECT_EQ(CheckRecord(largest.data(), largest.size()).State, TRecordState::Complete);
  const uint8_t http[] = "HTTP/1.1 200 OK";
  EXPECT_EQ(CheckRecord(http, 1).State, TRecordState::Invalid);
  const uint8_t badVersion[] = {22, 2, 0, 0, 1, 0};
  EXPECT_EQ(CheckRecord(badVersion, 2).State, TRecordState::Invalid);
  const uint8_t lowType[] = {19, 3, 1, 0, 0};
  EXPECT_EQ(CheckRecord(lowType, 5).State, TRecordState::Invalid);
}

TEST(RecvQueue, RequestsSpanChunksAndChunksServeSeveralRequests) {
  TRecvQueue q;
  const std::string a = "abcdef", b = "", c = "ghij";
  q.PutRecvdBuf(reinterpret_cast<const uint8_t*>(a.data()), a.size());
  q.PutRecvdBuf(reinterpret_cast<const uint8_t*>(b.data()), b.size());
  q.PutRecvdBuf(reinterpret_cast<const uint8_t*>(c.data()), c.size());
  EXPECT_EQ(q.Size(), 10u);
  uint8_t out[16];
  EXPECT_EQ(q.GetRecvdData(out, 4), 4u);
  EXPECT_EQ(std::string(out, out + 4), "abcd");
  EXPECT_EQ(q.GetRecvdData(out, 5), 5u);
  EXPECT_EQ(std::string(out, out + 5), "efghi");
  EXPECT_EQ(q.GetRecvdData(out, 0), 0u);
  EXPECT_EQ(q.GetRecvdData(out, 16), 1u);
  EXPECT_EQ(out[0], 'j');
  EXPECT_EQ(q.GetRecvdData(out, 16), 0u);
  EXPECT_EQ(q.Size(), 0u);
}

// OpenSSL reads the input BIO in pieces of its own choosing; whatever it leaves of a window must
// come back first, in order, after the window's buffer was reused.
TEST(InputWindow, GivesKeptBytesBeforeTheNextWindowAfterTheBufferChanged) {
  std::vector<uint8_t> buf = {1, 2, 3, 4, 5, 6};
  TInputWindow w;
  uint8_t out[8] = {};
  EXPECT_EQ(w.Take(out, sizeof out), 0u);
  w.Show(buf.data(), buf.size());
  EXPECT_EQ(w.Take(out, 2), 2u);
  EXPECT_EQ(w.Pending(), 4u);
  w.Keep();
  buf.assign({9, 9, 9, 9, 9, 9});  // the receive buffer moves on
  EXPECT_EQ(w.Pending(), 4u);
  w.Show(buf.data(), 2);
  EXPECT_EQ(w.Pending(), 6u);
  // A read never mixes kept bytes with the window's: both ways give the same stream.
  std::vector<uint8_t> got;
  for (size_t n; (n = w.Take(out, 3)) > 0;) got.insert(got.end(), out, out + n);
  EXPECT_EQ(got, (std::vector<uint8_t>{3, 4, 5, 6, 9, 9}));
  EXPECT_EQ(w.Pending(), 0u);
  w.Keep();  // nothing left: nothing kept
  EXPECT_EQ(w.Take(out, sizeof out), 0u);
}

}  // namespace
}  // namespace vantrel
