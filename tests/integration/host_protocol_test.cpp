// The page channel's line format: what a page may send, what it gets back, and that every
// malformed line becomes an error reply that keeps the request's id when it could be read.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "diag/Exceptions.h"
#include "host/vantreltcs/PageProtocol.h"

namespace vantrel::test {
namespace {

using namespace host;

TPageCall Call(const std::string& prmLine) {
  TPageRequest r = ParsePageLine(prmLine);
  if (auto* e = std::get_if<TPageError>(&r)) ADD_FAILURE() << prmLine << ": " << e->Error;
  return std::holds_alternative<TPageCall>(r) ? std::get<TPageCall>(r) : TPageCall{};
}

TPageError Error(const std::string& prmLine) {
  TPageRequest r = ParsePageLine(prmLine);
  EXPECT_TRUE(std::holds_alternative<TPageError>(r)) << prmLine;
  return std::holds_alternative<TPageError>(r) ? std::get<TPageError>(r) : TPageError{};
}

TEST(HostProtocol, CallsByNameOrDispidGetsAndPuts) {
  TPageCall c = Call(R"({"id":7,"method":"LaunchDesktop","args":[0,1]})");
  EXPECT_EQ(c.Id, 7);
  EXPECT_EQ(c.Name, "LaunchDesktop");
  EXPECT_EQ(c.Kind, TDispKind::Method);
  EXPECT_EQ(c.Args, (std::vector<Variant>{0, 1}));

  c = Call(R"({"id":"a","dispid":4348,"args":[2,true]})");
  EXPECT_EQ(c.Id, "a");
  EXPECT_TRUE(c.Name.empty());
  EXPECT_EQ(c.DispID, 4348);
  EXPECT_EQ(c.Args, (std::vector<Variant>{2, 1}));  // true travels as 1

  c = Call(R"({"id":1,"method":"InitTCS"})");
  EXPECT_TRUE(c.Args.empty());

  c = Call(R"({"id":2,"get":"RegDesktopsCount"})");
  EXPECT_EQ(c.Kind, TDispKind::PropertyGet);
  EXPECT_EQ(c.Name, "RegDesktopsCount");

  c = Call(R"({"id":3,"get":4336})");
  EXPECT_EQ(c.DispID, 4336);

  c = Call(R"({"id":4,"put":"ScreenWidth","value":1024})");
  EXPECT_EQ(c.Kind, TDispKind::PropertyPut);
  EXPECT_EQ(c.Args, (std::vector<Variant>{1024}));

  c = Call(R"({"id":5,"put":"Host","value":"desk:3390"})");
  EXPECT_EQ(c.Args, (std::vector<Variant>{"desk:3390"}));
  c = Call(R"({"id":6,"method":"X","args":[null,-2147483648,"é"]})");
  EXPECT_EQ(c.Args, (std::vector<Variant>{Variant(), std::numeric_limits<int32_t>::min(), "é"}));
}

TEST(HostProtocol, DialogReplies) {
  TPageRequest r = ParsePageLine(
      R"({"dialog_reply":3,"result":"ok","fields":{"user":"u","password":"p","index":2}})");
  ASSERT_TRUE(std::holds_alternative<TDialogReply>(r));
  const TDialogReply& d = std::get<TDialogReply>(r);
  EXPECT_EQ(d.DialogID, 3);
  EXPECT_EQ(d.Result, "ok");
  EXPECT_EQ(d.Fields.at("user"), "u");
  EXPECT_EQ(d.Fields.at("index"), "2");

  EXPECT_EQ(Error(R"({"dialog_reply":"3","result":"ok"})").Error,
            "malformed request: \"dialog_reply\" must be a dialog id");
  Error(R"({"dialog_reply":3})");
  Error(R"({"dialog_reply":3,"result":"ok","fields":[1]})");
  Error(R"({"dialog_reply":3,"result":"ok","fields":{"a":{"b":1}}})");
}

TEST(HostProtocol, MalformedLinesKeepTheirIdWhenReadable) {
  EXPECT_TRUE(Error("{not json").Id.is_null());
  EXPECT_EQ(Error("{not json").Error, "malformed request: not JSON");
  EXPECT_EQ(Error("[1,2]").Error, "malformed request: not a JSON object");
  Error("");
  Error("42");

  TPageError e = Error(R"({"id":9,"args":[]})");
  EXPECT_EQ(e.Id, 9);
  EXPECT_NE(e.Error.find("names no member"), std::string::npos);
  EXPECT_EQ(Error(R"({"id":9,"method":""})").Id, 9);
  Error(R"({"id":9,"method":["a"]})");
  Error(R"({"id":9,"method":"X","args":{"a":1}})");
  Error(R"({"id":9,"put":"Host"})");
  // Values without a form on the dispatch interface, named by position.
  EXPECT_NE(Error(R"({"id":9,"method":"X","args":[1,2.5]})").Error.find("argument 2"),
            std::string::npos);
  Error(R"({"id":9,"method":"X","args":[2147483648]})");
  Error(R"({"id":9,"method":"X","args":[-2147483649]})");
  Error(R"({"id":9,"method":"X","args":[[1]]})");
  Error(R"({"id":9,"dispid":99999999999})");
  // The id itself must be usable to answer with.
  EXPECT_TRUE(Error(R"({"id":[1],"method":"X"})").Id.is_array());
  Error(R"({"method":"X"})");
}

TEST(HostProtocol, DeepNestingIsRefusedBeforeParsing) {
  auto nest = [](int prmDepth) { return std::string(prmDepth, '[') + std::string(prmDepth, ']'); };
  const std::string refused = "malformed request: nested deeper than 32 levels";
  // Wherever the depth hides, the line is refused whole (it once overflowed the stack).
  for (const std::string& deep : {nest(80000), nest(kMaxPageNesting)}) {
    for (const std::string& line :
         {R"({"id":1,"method":"X","zz":)" + deep + "}", R"({"id":)" + deep + R"(,"method":"X"})",
          R"({"dialog_reply":1,"result":)" + deep + "}"}) {
      TPageError e = Error(line);
      EXPECT_TRUE(e.Id.is_null());
      EXPECT_EQ(e.Error, refused);
    }
  }
  // One level less is parsed (and refused for what it holds); brackets in strings do not count.
  EXPECT_NE(Error(R"({"id":1,"method":"X","args":)" + nest(kMaxPageNesting - 1) + "}").Error,
            refused);
  EXPECT_EQ(Call(R"({"id":1,"method":"X","args":[")" + std::string(100, '[') + R"(\"["]})").Args,
            (std::vector<Variant>{std::string(100, '[') + "\"["}));
  EXPECT_EQ(JsonNestingDepth("]]]]" + nest(3)), 3);
}

TEST(HostProtocol, RepliesEventsAndErrorsAreSingleLines) {
  TDispResult ok;
  ok.Value = 3;
  ok.Outs = {Variant("Office"), Variant("10.0.0.5"), Variant(30)};
  EXPECT_EQ(EncodeReply(5, ok), R"({"id":5,"result":3,"out":["Office","10.0.0.5",30]})");
  EXPECT_EQ(EncodeReply("x", TDispResult{}), R"({"id":"x","result":null,"out":[]})");

  TDispResult failed;
  failed.Result = E_FAIL;
  failed.Error = "Unknown member Nope";
  EXPECT_EQ(EncodeReply(6, failed), R"({"id":6,"error":"Unknown member Nope"})");
  EXPECT_EQ(EncodeError(nullptr, "a\nb"), R"({"id":null,"error":"a\nb"})");

  EXPECT_EQ(EncodeEvent("OnTCSStatusChanged", {1, 0, "Connecting..."}),
            R"({"event":"OnTCSStatusChanged","args":[1,0,"Connecting..."]})");
  // Text that is not UTF-8 still gives one valid line; objects go as null.
  std::string line = EncodeEvent(
      "OnError", {3, std::string("bad \xff byte"), Variant(std::shared_ptr<IUnknownObject>())});
  EXPECT_EQ(line.find('\n'), std::string::npos);
  EXPECT_FALSE(TJson::parse(line, nullptr, false).is_discarded());
  EXPECT_TRUE(TJson::parse(line)["args"][2].is_null());
}

}  // namespace
}  // namespace vantrel::test
