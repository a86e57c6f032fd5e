// The dispatch table over a test double: lookup by name and DISPID, argument checks, out
// parameters, and failures that come back as results instead of escaping.
#include <gtest/gtest.h>

#include <stdexcept>

#include "control/Dispatch.h"
#include "diag/Exceptions.h"

namespace vantrel::test {
namespace {

class TDouble {
 public:
  TDouble() {
    m_Table.Add(DispGetI4("Count", 10, [this] { return m_Count; }));
    m_Table.Add(DispPutI4("Count", 10, [this](int32_t v) { m_Count = v; }));
    m_Table.Add(DispGetBStr("Name", 11, [this] { return m_Name; }));
    m_Table.Add(DispMethod("Raise", 12, {}, [](const std::vector<Variant>&) {
      throw EBaseException("boom in member");
    }));
    m_Table.Add(DispMethod("RaiseStd", 13, {}, [](const std::vector<Variant>&) {
      throw std::runtime_error("std boom");
    }));
    m_Table.Add({"Describe",
                 14,
                 TDispKind::Method,
                 {TVarType::I4},
                 2,
                 [](const std::vector<Variant>& a, TDispResult& r) {
                   r.Outs[0] = "item " + std::to_string(a[0].AsI4());
                   r.Outs[1] = a[0].AsI4() * 2;
                 }});
    m_Table.Add({"Attach",
                 15,
                 TDispKind::PropertyPut,
                 {TVarType::Object},
                 0,
                 [this](const std::vector<Variant>& a, TDispResult&) {
                   m_Attached = a[0].AsObject() != nullptr;
                 }});
  }
  TDispatchTable m_Table;
  int32_t m_Count = 3;
  std::string m_Name = "n";
  bool m_Attached = true;
};

TEST(DispatchTest, NamesAndDispIdsReachTheSameMember) {
  TDouble d;
  EXPECT_EQ(d.m_Table.Invoke("count", TDispKind::PropertyGet, {}).Value, Variant(3));
  EXPECT_TRUE(d.m_Table.Invoke(10, TDispKind::PropertyPut, {Variant(7)}).Ok());
  EXPECT_EQ(d.m_Table.Invoke("COUNT", TDispKind::PropertyGet, {}).Value, Variant(7));
  EXPECT_EQ(d.m_Table.GetIDOfName("name"), 11);
  EXPECT_FALSE(d.m_Table.GetIDOfName("Nothing"));
}

TEST(DispatchTest, UnknownMembersAndWrongKindsAreClearErrors) {
  TDouble d;
  auto r = d.m_Table.Invoke("Nothing", TDispKind::Method, {});
  EXPECT_EQ(r.Result, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(r.Error, "Unknown member Nothing");
  r = d.m_Table.Invoke("Name", TDispKind::PropertyPut, {Variant("x")});
  EXPECT_EQ(r.Result, DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(r.Error, "Member Name has no property put");
  EXPECT_EQ(d.m_Table.Invoke(999, TDispKind::Method, {}).Result, DISP_E_MEMBERNOTFOUND);
}

TEST(DispatchTest, ArgumentCountAndTypesAreCheckedBeforeTheMemberRuns) {
  TDouble d;
  auto r = d.m_Table.Invoke("Count", TDispKind::PropertyPut, {});
  EXPECT_EQ(r.Result, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(r.Error, "Count takes 1 argument(s), 0 given");
  r = d.m_Table.Invoke("Count", TDispKind::PropertyPut, {Variant("12")});
  EXPECT_EQ(r.Result, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(r.Error, "Count argument 1: I4 expected, BSTR given");
  EXPECT_EQ(d.m_Count, 3);
  // An object parameter takes the null object.
  EXPECT_TRUE(d.m_Table.Invoke("Attach", TDispKind::PropertyPut, {Variant()}).Ok());
  EXPECT_FALSE(d.m_Attached);
  EXPECT_EQ(d.m_Table.Invoke("Attach", TDispKind::PropertyPut, {Variant(1)}).Result,
            DISP_E_TYPEMISMATCH);
}

TEST(DispatchTest, FailuresInsideMembersBecomeFailedResults) {
  TDouble d;
  auto r = d.m_Table.Invoke("Raise", TDispKind::Method, {});
  EXPECT_EQ(r.Result, E_FAIL);
  EXPECT_EQ(r.Error, "boom in member");
  r = d.m_Table.Invoke(13, TDispKind::Method, {});
  EXPECT_EQ(r.Result, E_FAIL);
  EXPECT_EQ(r.Error, "std boom");
  // The table stays usable.
  EXPECT_TRUE(d.m_Table.Invoke("Count", TDispKind::PropertyGet, {}).Ok());
}

TEST(DispatchTest, OutParametersComeBackInOrder) {
  TDouble d;
  auto r = d.m_Table.Invoke("Describe", TDispKind::Method, {Variant(4)});
  ASSERT_TRUE(r.Ok());
  ASSERT_EQ(r.Outs.size(), 2u);
  EXPECT_EQ(r.Outs[0], Variant("item 4"));
  EXPECT_EQ(r.Outs[1], Variant(8));
}

TEST(DispatchTest, DuplicateDeclarationsAreRefused) {
  TDouble d;
  EXPECT_THROW(d.m_Table.Add(DispGetI4("count", 99, [] { return 0; })), EBaseException);
  EXPECT_THROW(d.m_Table.Add(DispGetI4("Other", 10, [] { return 0; })), EBaseException);
  // The same name and DISPID with another kind is the other half of a property.
  EXPECT_NO_THROW(d.m_Table.Add(DispPutBStr("Name", 11, [](const std::string&) {})));
}

TEST(DispatchTest, VariantConversionsNameTheTypes) {
  try {
    (void)Variant("x").AsI4();
    FAIL();
  } catch (const EBaseException& e) {
    EXPECT_EQ(e.GetMsg(), "Type mismatch: I4 expected, BSTR given");
  }
  EXPECT_EQ(Variant().AsObject(), nullptr);
  EXPECT_THROW((void)Variant(1).AsBStr(), EBaseException);
}

}  // namespace
}  // namespace vantrel::test
