// One reply within the size limit must not grow the process past a fixed bound however it is
// made: a list of empty names, a flood of elements or attributes, one list shared by every
// desktop. Growth is the allocator's bytes in use while the reply's document and objects live.
#include <gtest/gtest.h>
#include <malloc.h>

#include <functional>

#include "catalogue/AppCatalogue.h"
#include "catalogue/Host.h"
#include "catalogue/HostOwnerDouble.h"
#include "diag/Xml.h"

namespace vantrel::test {
namespace {

constexpr size_t kGrowthBound = 128u << 20;

size_t BytesInUse() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

std::string Times(const std::string& prmUnit, size_t prmCount) {
  std::string out;
  out.reserve(prmUnit.size() * prmCount);
  for (size_t i = 0; i < prmCount; ++i) out += prmUnit;
  return out;
}

TEST(ReplyMemory, NoReplyGrowsTheProcessPastItsBound) {
  THostOwnerDouble owner;
  const size_t hosts = kMaxXmlElements - 10;
  struct TRow {
    const char* Name;
    std::string Reply;
    const char* Refusal;  // the parse's error, or null when the reply loads
    // Loads the catalogue from the document and notes the bytes in use while it lives; true
    // when it holds what the row expects.
    std::function<bool(const TXmlDoc&, size_t&)> Load;
  } rows[] = {
      {"farm servers made of commas",
       "<OQN><Farms><Farm Servers=\"" + std::string(16u << 20, ',') + "\">1</Farm></Farms></OQN>",
       nullptr,
       [](const TXmlDoc& prmDoc, size_t& prmInUse) {
         TAppCatalogue apps;
         apps.Load(prmDoc.Root());
         prmInUse = BytesInUse();
         return apps.GetFarms().size() == 1 && apps.GetFarms()[0]->GetServers().empty();
       }},
      {"empty desktops", "<OQN><Hosts>" + Times("<Host/>", (16u << 20) / 7) + "</Hosts></OQN>",
       "XML parse error: too many elements", nullptr},
      {"agent reply of attributes", "<ServerInfo" + Times(" a=''", 3000000) + "/>",
       "XML parse error: too many attributes", nullptr},
      {"every desktop sharing one large provider list, each with a list of commas",
       "<OQN><Hosts><ProvParams ID='s'>" + Times("<p>" + std::string(1u << 20, 'v') + "</p>", 4) +
           "</ProvParams>" +
           Times("<Host ID='s' Params='" + std::string(200, ',') + "'>h</Host>", hosts) +
           "</Hosts></OQN>",
       nullptr,
       [&](const TXmlDoc& prmDoc, size_t& prmInUse) {
         auto loaded = LoadHosts(prmDoc.Root(), owner);
         prmInUse = BytesInUse();
         return loaded.size() == hosts && loaded.back()->GetProviderParams().empty();
       }},
  };
  for (const TRow& r : rows) {
    SCOPED_TRACE(r.Name);
    const size_t before = BytesInUse();
    TXmlDoc doc = TXmlDoc::ParseBytes(r.Reply.data(), r.Reply.size());
    size_t during = BytesInUse();
    if (r.Refusal != nullptr) {
      EXPECT_FALSE(doc.IsValid());
      EXPECT_EQ(doc.GetError(), r.Refusal);
    } else {
      ASSERT_TRUE(doc.IsValid()) << doc.GetError();
      EXPECT_TRUE(r.Load(doc, during));
    }
    EXPECT_LT(during - std::min(during, before), kGrowthBound);
  }
}

}  // namespace
}  // namespace vantrel::test
