#include "tunnel/ConnTable.h"

#include <gtest/gtest.h>

#include "tunnel/Conn.h"

namespace vantrel {
namespace {

// Never started: the table only stores connections.
class TIdleConn : public CConn {
 public:
  TIdleConn() : CConn(nullptr, TUniqueFd(), "127.0.0.5", 1, nullptr, 0) {}
  void ConnThd() override {}
  bool SendData(const uint8_t*, int) override { return true; }
};

std::shared_ptr<CConn> NewConn() {
  return std::make_shared<TIdleConn>();
}

TEST(ConnTable, RoundRobinSkipsIdentifiersInUse) {
  TConnTable t;
  EXPECT_EQ(t.Add(NewConn()), 1);
  EXPECT_EQ(t.Add(NewConn()), 2);
  EXPECT_EQ(t.Add(NewConn()), 3);
  ASSERT_EQ(t.CurConn(), 4);
  EXPECT_EQ(t.Add(NewConn()), 4);
  EXPECT_EQ(t.Add(NewConn()), 5);
  EXPECT_EQ(t.Add(NewConn()), 6);
  // A freed identifier is not handed out again before the search comes round to it.
  auto two = t.Get(2);
  EXPECT_EQ(t.Remove(2, two.get()), two);
  EXPECT_EQ(t.Add(NewConn()), 7);
}

TEST(ConnTable, FullTableWrapsAndRefusesThe500th) {
  TConnTable t;
  for (int i = 1; i < kMaxConns; ++i) ASSERT_EQ(t.Add(NewConn()), i);
  EXPECT_EQ(t.CurConn(), 1);  // after 499 the search continues at 1
  EXPECT_EQ(t.Add(NewConn()), -1);
  EXPECT_EQ(t.Count(), 499);
  auto c = t.Get(300);
  t.Remove(300, c.get());
  auto d = t.Get(17);
  t.Remove(17, d.get());
  // The search starts at 1 and meets 17 first.
  EXPECT_EQ(t.Add(NewConn()), 17);
  EXPECT_EQ(t.Add(NewConn()), 300);
  EXPECT_EQ(t.Add(NewConn()), -1);
}

TEST(ConnTable, RemoveOnlyTheConnectionThatHoldsTheSlot) {
  TConnTable t;
  auto a = NewConn();
  auto other = NewConn();
  ASSERT_EQ(t.Add(a), 1);
  EXPECT_EQ(t.Remove(1, other.get()), nullptr);
  EXPECT_EQ(t.Get(1), a);
  for (int bad : {0, -1, 500, 501, 70000}) {
    EXPECT_EQ(t.Get(bad), nullptr);
    EXPECT_EQ(t.Remove(bad, a.get()), nullptr);
  }
  auto all = t.TakeAll();
  EXPECT_EQ(all.size(), 1u);
  EXPECT_EQ(t.Count(), 0);
}

}  // namespace
}  // namespace vantrel
