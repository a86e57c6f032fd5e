// The RDP options table against the store's settings load and the connection-file entries.
#include "config/RdpOptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "config/DbMng.h"

namespace vantrel {
namespace {

// An option left out of the settings' runs would never be loaded; a repeated element or entry
// name would load or write one option twice.
TEST(RdpOptions, EachIsLoadedFromItsOwnSettingAndWritesItsOwnEntry) {
  const std::vector<std::string_view> settings = TDBMng::XmlSettingNames();
  std::set<std::string> keys;
  for (const TRdpOptionDef& def : RdpOptionDefs()) {
    EXPECT_EQ(std::count(settings.begin(), settings.end(), def.Setting), 1) << def.Setting;
    EXPECT_TRUE(keys.insert(def.Key).second) << def.Key;
  }
}

TEST(RdpOptions, EntryForms) {
  struct TCase {
    TRdpOption Option;
    int Value;
    TRdpForm Form;
    const char* Line;
  };
  const TCase cases[] = {
      {TRdpOption::ConnectionType, 0x1FF, TRdpForm::LowByte, "connection type:i:255\r\n"},
      {TRdpOption::ConnectionType, 0x1FF, TRdpForm::Whole, "connection type:i:511\r\n"},
      {TRdpOption::HideConnectionBar, 1, TRdpForm::Inverted, "displayconnectionbar:i:0\r\n"},
      {TRdpOption::KeyboardHook, -300, TRdpForm::Whole, "keyboardhook:i:-300\r\n"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(FormatRdpEntry(RdpOptionEntry(c.Option, c.Value, c.Form)), c.Line) << c.Line;
}

}  // namespace
}  // namespace vantrel
