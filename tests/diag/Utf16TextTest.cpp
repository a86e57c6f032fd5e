// UTF-8 to and from UTF-16: valid text round-trips; each malformed piece becomes U+FFFD and
// never hides what follows (an overlong NUL must not cut a password short).
#include <gtest/gtest.h>

#include "diag/Utf16Text.h"

namespace vantrel {
namespace {

TEST(Utf16Text, ConvertsAndReplacesWhatIsMalformed) {
  const struct {
    const char* Name;
    std::string Utf8;
    std::u16string Utf16;
    bool RoundTrips;
  } cases[] = {
      {"ascii", "bob", u"bob", true},
      {"two, three and four bytes", "p\xc3\xa4\xe2\x82\xac\xf0\x9f\x94\x91",
       u"p\u00e4\u20ac\U0001F511", true},
      {"overlong NUL",
       std::string("a\xc0\x80"
                   "b"),
       u"a\uFFFD\uFFFDb", false},
      {"truncated sequence at the end", "a\xe2\x82", u"a\uFFFD\uFFFD", false},
      {"lone continuation", "\x80x", u"\uFFFDx", false},
      {"encoded surrogate", "\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD", false},
      {"above U+10FFFF", "\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Utf8ToUtf16(c.Utf8), c.Utf16);
    if (c.RoundTrips) {
      EXPECT_EQ(Utf16ToUtf8(c.Utf16), c.Utf8);
    }
  }
  EXPECT_EQ(Utf16ToUtf8(std::u16string(u"a\xD800"
                                       "b")),
            "a\xef\xbf\xbd"
            "b");  // lone surrogate
}

}  // namespace
}  // namespace vantrel
