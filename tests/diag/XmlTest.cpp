#include "diag/Xml.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

TEST(Xml, FindFirstIsDepthFirstInDocumentOrder) {
  // The <a> nested under the first child comes before the shallower <a> that follows it.
  TXmlDoc doc = TXmlDoc::Parse("<r><x><y><a>deep</a></y></x><a>shallow</a><z><a>later</a></z></r>");
  ASSERT_TRUE(doc.IsValid()) << doc.GetError();
  EXPECT_EQ(doc.Root().FindFirst("a").Text(), "deep");

  std::vector<std::string> all;
  for (const TXmlNode& n : doc.Root().FindAll("a")) all.push_back(n.Text());
  EXPECT_EQ(all, (std::vector<std::string>{"deep", "shallow", "later"}));
}

TEST(Xml, FindComparesNamesWithoutCaseAndSkipsTheStartElement) {
  TXmlDoc doc =
      TXmlDoc::Parse("<Settings><KeepAlive>5</KeepAlive><sub><SETTINGS/></sub></Settings>");
  ASSERT_TRUE(doc.IsValid());
  EXPECT_EQ(doc.Root().FindFirst("keepalive").Text(), "5");
  EXPECT_EQ(doc.Root().FindFirst("KEEPALIVE").Name(), "KeepAlive");
  // The element searched from is not its own match; only the nested one is.
  std::vector<TXmlNode> found = doc.Root().FindAll("settings");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Parent().Name(), "sub");
  // A search below a match covers only that match's subtree.
  EXPECT_FALSE(doc.Root().FindFirst("sub").FindFirst("keepalive"));
}

TEST(Xml, MissingElementsAndNullHandlesAreHarmless) {
  TXmlDoc doc = TXmlDoc::Parse("<r><a/></r>");
  TXmlNode none = doc.Root().FindFirst("missing");
  EXPECT_FALSE(none.IsValid());
  EXPECT_EQ(none.Text(), "");
  EXPECT_EQ(none.Name(), "");
  EXPECT_EQ(none.Attr("x", "def"), "def");
  EXPECT_EQ(none.AttrInt("x", 7), 7);
  EXPECT_FALSE(none.FindFirst("a"));
  EXPECT_TRUE(none.FindAll("a").empty());
  EXPECT_TRUE(none.Children().empty());
  EXPECT_FALSE(none.Parent());
  EXPECT_FALSE(none.AddChild("b"));
  none.SetText("ignored");
  none.SetAttr("a", "b");
  EXPECT_EQ(doc.Root().FindFirst("a").Text(), "");
  EXPECT_FALSE(doc.Root().Parent());
}

TEST(Xml, TextKeepsWhitespaceAndJoinsCdata) {
  TXmlDoc doc = TXmlDoc::Parse(
      "<r>\n  <sp> </sp>\n  <pad> 1 </pad>\n  <mix>a<!--c--><![CDATA[<b>]]><i>x</i>c</mix>\n"
      "  <ent>&lt;&amp;&gt;</ent>\n</r>");
  ASSERT_TRUE(doc.IsValid()) << doc.GetError();
  EXPECT_EQ(doc.Root().FindFirst("sp").Text(), " ");
  EXPECT_EQ(doc.Root().FindFirst("pad").Text(), " 1 ");
  EXPECT_EQ(doc.Root().FindFirst("mix").Text(), "a<b>c");
  EXPECT_EQ(doc.Root().FindFirst("ent").Text(), "<&>");
  // Indentation between elements is not text of the root.
  EXPECT_EQ(doc.Root().Text(), "");
  std::vector<TXmlNode> kids = doc.Root().Children();
  ASSERT_EQ(kids.size(), 4u);
  EXPECT_EQ(kids[3].Name(), "ent");
}

TEST(Xml, AttributesWithDefaults) {
  TXmlDoc doc = TXmlDoc::Parse(
      R"(<Hosts RDPPort="3390" Neg="-12" Plus="+4" Bad="12a" Empty="" Big="4294967296" )"
      R"(Trail="5 " Text="v&quot;x"/>)");
  TXmlNode h = doc.Root();
  ASSERT_TRUE(h);
  EXPECT_EQ(h.AttrInt("RDPPort", 1), 3390);
  EXPECT_EQ(h.AttrInt("Neg", 1), -12);
  EXPECT_EQ(h.AttrInt("Plus", 1), 4);
  EXPECT_EQ(h.AttrInt("Bad", 1), 1);
  EXPECT_EQ(h.AttrInt("Empty", 1), 1);
  EXPECT_EQ(h.AttrInt("Big", 1), 1);
  EXPECT_EQ(h.AttrInt("Trail", 1), 1);
  EXPECT_EQ(h.AttrInt("Missing", 9), 9);
  // Attribute names are case-sensitive.
  EXPECT_EQ(h.AttrInt("rdpport", 1), 1);
  EXPECT_TRUE(h.HasAttr("Empty"));
  EXPECT_FALSE(h.HasAttr("empty"));
  EXPECT_EQ(h.Attr("Empty", "d"), "");
  EXPECT_EQ(h.Attr("Missing", "d"), "d");
  EXPECT_EQ(h.Attr("Text"), "v\"x");
}

TEST(Xml, MalformedInputGivesInvalidDocumentAndMessage) {
  const char* bad[] = {"", "   ", "<r>", "<r></s>", "text only", "<r/><r/>", "<r/>x<r/>"};
  for (const char* text : bad) {
    TXmlDoc doc = TXmlDoc::Parse(text);
    EXPECT_FALSE(doc.IsValid()) << text;
    EXPECT_FALSE(doc.Root()) << text;
    EXPECT_NE(doc.GetError(), "") << text;
    EXPECT_EQ(doc.SaveToString(), "") << text;
  }
  TXmlDoc truncated = TXmlDoc::Parse("<r><a>1</a><b>");
  EXPECT_FALSE(truncated.Root().FindFirst("a"));
  EXPECT_NE(truncated.GetError().find("offset"), std::string::npos);

  TXmlDoc good = TXmlDoc::Parse("<r/>");
  EXPECT_TRUE(good.IsValid());
  EXPECT_EQ(good.GetError(), "");
}

TEST(Xml, ParseBytesFollowsEncodingMarks) {
  // UTF-16LE with byte-order mark.
  const std::string ascii = "<r><n>\xC3\xA9t\xC3\xA9</n></r>";
  TBytes utf16 = {0xFF, 0xFE};
  for (char16_t c : std::u16string(u"<r><n>\u00e9t\u00e9</n></r>")) {
    utf16.push_back(static_cast<uint8_t>(c & 0xFF));
    utf16.push_back(static_cast<uint8_t>(c >> 8));
  }
  TXmlDoc doc16 = TXmlDoc::ParseBytes(utf16);
  ASSERT_TRUE(doc16.IsValid()) << doc16.GetError();
  EXPECT_EQ(doc16.Root().FindFirst("n").Text(), "\xC3\xA9t\xC3\xA9");

  const std::string latin = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><n>\xE9</n></r>";
  TXmlDoc docL = TXmlDoc::ParseBytes(latin.data(), latin.size());
  ASSERT_TRUE(docL.IsValid()) << docL.GetError();
  EXPECT_EQ(docL.Root().FindFirst("n").Text(), "\xC3\xA9");

  TXmlDoc docU = TXmlDoc::ParseBytes(TBytes(ascii.begin(), ascii.end()));
  EXPECT_EQ(docU.Root().FindFirst("n").Text(), "\xC3\xA9t\xC3\xA9");
}

TEST(Xml, BuildSerialiseAndParseBack) {
  TXmlDoc doc = TXmlDoc::Create("NFuseProtocol");
  TXmlNode root = doc.Root();
  root.SetAttr("version", "4.6");
  TXmlNode req = root.AddChild("RequestAppData");
  req.AddChild("Scope").SetAttr("traverse", "subtree");
  TXmlNode name = req.AddChild("Name");
  name.SetText("a<b & \"c\" \xC3\xA9");
  name.SetAttrInt("n", -5);
  name.SetAttrInt("n", 6);  // replaces, never duplicates
  req.AddChild("Empty");

  std::string text = doc.SaveToString();
  EXPECT_EQ(text,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><NFuseProtocol version=\"4.6\">"
            "<RequestAppData><Scope traverse=\"subtree\"/><Name n=\"6\">a&lt;b &amp; \"c\" "
            "\xC3\xA9</Name><Empty/></RequestAppData></NFuseProtocol>");
  EXPECT_EQ(doc.SaveToString(false).rfind("<NFuseProtocol", 0), 0u);

  TXmlDoc back = TXmlDoc::Parse(text);
  ASSERT_TRUE(back.IsValid()) << back.GetError();
  EXPECT_EQ(back.Root().FindFirst("name").Text(), "a<b & \"c\" \xC3\xA9");
  EXPECT_EQ(back.Root().FindFirst("name").AttrInt("n", 0), 6);
  EXPECT_EQ(back.Root().FindFirst("scope").Attr("traverse"), "subtree");
  EXPECT_EQ(back.SaveToString(), text);
}

TEST(Xml, BuilderRefusesNamesThatWouldNotParseBack) {
  TXmlDoc doc = TXmlDoc::Create("r");
  for (const char* bad :
       {"", "a b", "a<b", "1a", "-a", ".a", "a=b", "a\"", "a/", "a\tb", "+", "a+b", "a;"}) {
    EXPECT_FALSE(doc.Root().AddChild(bad)) << bad;
    doc.Root().SetAttr(bad, "v");
    EXPECT_FALSE(TXmlDoc::Create(bad).IsValid()) << bad;
    EXPECT_NE(TXmlDoc::Create(bad).GetError(), "") << bad;
  }
  EXPECT_TRUE(doc.Root().AddChild("ns:a_b-1.x"));
  // Text and attribute values come back as written (in text a CR LF line end reads back as LF,
  // as in any XML).
  const std::string odd = "x\x01]]>\"'&<\n\t\xC3\xA9";
  doc.Root().FindFirst("ns:a_b-1.x").SetText(odd);
  doc.Root().SetAttr("v", odd + "\r\n");
  TXmlDoc back = TXmlDoc::Parse(doc.SaveToString());
  ASSERT_TRUE(back.IsValid()) << back.GetError() << "\n" << doc.SaveToString();
  EXPECT_EQ(back.Root().Children().size(), 1u);
  EXPECT_EQ(back.Root().FindFirst("NS:A_B-1.X").Text(), odd);
  EXPECT_EQ(back.Root().Attr("v"), odd + "\r\n");
}

TEST(Xml, SetTextReplacesAllCharacterData) {
  TXmlDoc doc = TXmlDoc::Parse("<r>a<k/>b<![CDATA[c]]></r>");
  doc.Root().SetText("new");
  EXPECT_EQ(doc.Root().Text(), "new");
  EXPECT_EQ(doc.SaveToString(false), "<r>new<k/></r>");
  doc.Root().SetText("");
  EXPECT_EQ(doc.SaveToString(false), "<r><k/></r>");
}

TEST(Xml, Base64Text) {
  TXmlDoc doc =
      TXmlDoc::Parse("<r><icon>iVBO\n Rw0K</icon><odd>abc</odd><none/><pad>YQ==</pad></r>");
  TBytes bytes;
  ASSERT_TRUE(doc.Root().FindFirst("icon").TextBase64(bytes));
  EXPECT_EQ(bytes, (TBytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A}));
  ASSERT_TRUE(doc.Root().FindFirst("pad").TextBase64(bytes));
  EXPECT_EQ(bytes, (TBytes{'a'}));
  EXPECT_FALSE(doc.Root().FindFirst("odd").TextBase64(bytes));
  EXPECT_TRUE(bytes.empty());
  ASSERT_TRUE(doc.Root().FindFirst("none").TextBase64(bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(Xml, DeepNestingNeedsNoStack) {
  const int depth = 200000;
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<d>";
  text += "<leaf>x</leaf>";
  for (int i = 0; i < depth; ++i) text += "</d>";
  TXmlDoc doc = TXmlDoc::Parse(text);
  ASSERT_TRUE(doc.IsValid()) << doc.GetError();
  EXPECT_EQ(doc.Root().FindFirst("LEAF").Text(), "x");
  EXPECT_FALSE(doc.Root().FindFirst("nothing"));
  EXPECT_EQ(doc.Root().FindAll("d").size(), static_cast<size_t>(depth - 1));
}

TEST(Xml, DocumentsMove) {
  TXmlDoc a = TXmlDoc::Create("r");
  TXmlNode root = a.Root();
  TXmlDoc b = std::move(a);
  EXPECT_EQ(b.Root(), root);  // handles stay valid: the tree itself did not move
  EXPECT_FALSE(a.IsValid());  // NOLINT(bugprone-use-after-move): moved-from is empty, not broken
  EXPECT_EQ(a.SaveToString(), "");
  a = TXmlDoc::Parse("<x/>");
  EXPECT_EQ(a.Root().Name(), "x");
}

}  // namespace
}  // namespace vantrel
