// The embedded form's own rules: size boxes, the clipboard rule of old RDP clients, presets.
#include <gtest/gtest.h>

#include "control/VantrelTCSForm.h"

namespace vantrel::test {
namespace {

TEST(FormTest, SizeBoxesFollowTheSizeList) {
  TVantrelTCSForm f;
  f.cbSize.Select(SIZE_CUSTOM);
  f.cbSpan.Checked = true;
  f.cbSizeSelect(1280, 1024);
  EXPECT_EQ(f.edWidth.Text, "1280");
  EXPECT_EQ(f.edHeight.Text, "1024");
  EXPECT_TRUE(f.edWidth.Enabled && f.edHeight.Enabled);
  EXPECT_FALSE(f.cbSpan.Enabled || f.cbSpan.Checked);

  f.cbSize.Select(2);  // a fixed size
  f.cbSizeSelect(1280, 1024);
  EXPECT_EQ(f.edWidth.Text, "");
  EXPECT_FALSE(f.edWidth.Enabled || f.edHeight.Enabled);
  EXPECT_FALSE(f.cbSpan.Enabled);

  f.cbSize.Select(SIZE_FULL_SCREEN);
  f.cbSizeSelect(1280, 1024);
  EXPECT_FALSE(f.edHeight.Enabled);
  EXPECT_TRUE(f.cbSpan.Enabled);
  // An index outside the list keeps the selection.
  f.cbSize.Select(5);
  EXPECT_EQ(f.cbSize.Text, "Full Screen");
}

TEST(FormTest, OldClientsTiePrintersToTheClipboard) {
  TVantrelTCSForm f;
  f.cbPrt.Checked = true;
  f.cbClipboard.Checked = false;
  f.cbClipboardClick(6);  // newer clients: no rule
  EXPECT_TRUE(f.cbPrt.Checked && f.cbPrt.Enabled);
  f.cbClipboardClick(5);
  EXPECT_FALSE(f.cbPrt.Checked || f.cbPrt.Enabled);
  f.cbClipboard.Checked = true;
  f.cbClipboardClick(5);
  EXPECT_TRUE(f.cbPrt.Enabled);
  EXPECT_FALSE(f.cbPrt.Checked);
}

TEST(FormTest, PresetsSetThePerformanceBoxes) {
  TVantrelTCSForm f;
  auto boxes = [&f] {
    return std::vector<bool>{f.cbBitmapCache.Checked, f.cbDesktopWallpaper.Checked,
                             f.cbFullWindowDrag.Checked, f.cbMenuAnim.Checked, f.cbThemes.Checked};
  };
  f.cbxConnType.Select(1);
  f.cbxConnTypeChange();
  EXPECT_EQ(boxes(), (std::vector<bool>{false, true, true, true, false}));
  f.cbxConnType.Select(2);
  f.cbxConnTypeChange();
  EXPECT_EQ(boxes(), (std::vector<bool>{false, true, false, false, false}));
  f.cbxConnType.Select(3);  // LAN
  f.cbxConnTypeChange();
  EXPECT_EQ(boxes(), (std::vector<bool>(5, false)));
  f.cbxConnType.Select(-1);
  f.cbBitmapCache.Checked = true;
  f.cbxConnTypeChange();
  EXPECT_EQ(boxes(), (std::vector<bool>(5, false)));
}

}  // namespace
}  // namespace vantrel::test
