#include "citrix/CGPSendFilter.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

TEST(CGPSendFilterTest, RewritesTheFirstWholeLoopbackAddressOnly) {
  using namespace std::string_literals;
  const struct {
    std::string In;
    bool Rewritten;
    std::string Out;
  } cases[] = {
      {"xx127.0.0.1:50123rest", true, "xx127.0.0.1:1494\0rest"s},
      {"127.0.0.1:5012x", true, "127.0.0.1:1494x"},
      {"127.0.0.1:5012", true, "127.0.0.1:1494"},
      {"a127.0.0.1:80 127.0.0.1:50123", true, "a127.0.0.1:1494\0"s + "7.0.0.1:50123"},
      {"ends 127.0.0.1:12", false, "ends 127.0.0.1:12"},
      {"127.0.0.2:50123", false, "127.0.0.2:50123"},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    std::string piece = c.In;
    EXPECT_EQ(CGPSendFilter(reinterpret_cast<uint8_t*>(piece.data()),
                            static_cast<uint32_t>(piece.size())),
              c.Rewritten)
        << c.In;
    EXPECT_EQ(piece, c.Out) << c.In;
  }
}

}  // namespace
}  // namespace vantrel
