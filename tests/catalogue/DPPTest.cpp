// The per-session flag set and how the desktop-list reply and the store fill it.
#include <gtest/gtest.h>

#include "catalogue/DPP.h"
#include "config/DbMng.h"
#include "diag/Xml.h"

namespace vantrel::test {
namespace {

TDPP FromReply(const std::string& prmXml, const TDBMng& prmStore) {
  TXmlDoc doc = TXmlDoc::Parse(prmXml);
  EXPECT_TRUE(doc.IsValid());
  TDPP dpp;
  dpp.Load(doc.Root(), prmStore);
  return dpp;
}

TEST(DPP, FlagRules) {
  TDPP d;
  for (int f = 1; f <= 7; ++f) {
    EXPECT_EQ(d.GetFlag(f), -1);
    EXPECT_TRUE(d.GetFlagBool(f, true));  // unset answers the default
    EXPECT_FALSE(d.GetFlagBool(f, false));
  }
  // Flags outside 1..7 answer the default or -1 and ignore setters.
  for (int f : {0, 8, -1}) {
    d.SetFlag(f, 1);
    d.SetFlagStrict(f, 1);
    EXPECT_EQ(d.GetFlag(f), -1);
    EXPECT_TRUE(d.GetFlagBool(f, true));
  }
  // Only 0 and 1 are stored.
  d.SetFlag(1, 2);
  EXPECT_EQ(d.GetFlag(1), -1);
  d.SetFlag(1, 1);
  d.SetFlag(1, -1);
  EXPECT_EQ(d.GetFlag(1), 1);
  EXPECT_TRUE(d.GetFlagBool(1, false));
  // Strict: once off, stays off; plain SetFlag may turn it on again.
  d.SetFlagStrict(1, 0);
  d.SetFlagStrict(1, 1);
  EXPECT_EQ(d.GetFlag(1), 0);
  EXPECT_FALSE(d.GetFlagBool(1, true));
  d.SetFlag(1, 1);
  EXPECT_EQ(d.GetFlag(1), 1);
}

TEST(DPP, ElementsCombineSoThatOffWins) {
  TDBMng store;
  for (const char* order : {"<DPP RClip='1'/><DPP RClip='0'/>", "<DPP RClip='0'/><DPP RClip='1'/>"})
    EXPECT_EQ(FromReply(std::string("<OQN><DPPs>") + order + "</DPPs></OQN>", store).GetFlag(5), 0)
        << order;

  TDPP d = FromReply(
      "<OQN><Other><DPPs><Group><dpp RDrv='1' RPrt='1' RPorts='2' RSC='x' RClip='1' RPOS='1' "
      "AntiKeyLog='1'/></Group></DPPs></Other></OQN>",
      store);
  EXPECT_EQ(d.GetFlag(1), 1);
  EXPECT_EQ(d.GetFlag(2), 1);
  EXPECT_EQ(d.GetFlag(3), -1);  // 2 leaves the flag unchanged
  EXPECT_EQ(d.GetFlag(4), 0);   // not an integer counts as 0
  EXPECT_EQ(d.GetFlag(7), 1);

  // A "DPP" without attributes turns every flag off; "DPPs" without any leaves all unset.
  TDPP empty = FromReply("<OQN><DPPs><DPP/></DPPs></OQN>", store);
  TDPP none = FromReply("<OQN><DPPs/></OQN>", store);
  for (int f = 1; f <= 7; ++f) {
    EXPECT_EQ(empty.GetFlag(f), 0);
    EXPECT_EQ(none.GetFlag(f), -1);
  }
}

TEST(DPP, StoreFallbackWithoutDPPs) {
  TDBMng store;
  store.SetRedir(true, false, true, false, true, true);
  TDPP d = FromReply("<OQN><Hosts/></OQN>", store);
  const int expected[] = {1, 0, 1, 0, 1, 1, 0};
  for (int f = 1; f <= 7; ++f) EXPECT_EQ(d.GetFlag(f), expected[f - 1]) << f;

  // A reply that is not a document has no "DPPs" either.
  TXmlDoc broken = TXmlDoc::Parse("<OQN><DPPs><DPP RDrv='0'/>");
  TDPP b;
  b.Load(broken.Root(), store);
  EXPECT_EQ(b.GetFlag(1), 1);
}

}  // namespace
}  // namespace vantrel::test
