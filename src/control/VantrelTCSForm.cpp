#include "control/VantrelTCSForm.h"

namespace vantrel {

void TComboBox::Select(int prmIndex) {
  if (prmIndex < -1 || prmIndex >= static_cast<int>(Items.size())) return;
  ItemIndex = prmIndex;
  Text = prmIndex < 0 ? std::string() : Items[prmIndex];
}

TVantrelTCSForm::TVantrelTCSForm() {
  imProg.Visible = imAlert.Visible = lblInfo.Visible = false;
  cbHost.Visible = false;
  btConnect.Caption = "&Connect";
  btConnectAs.Caption = "Connect &As";
  btConnect.Enabled = btConnectAs.Enabled = false;
  cbSize.Items = {"Full Screen", "640X480", "800X600", "1024X780", "Custom"};
  cbSize.PickOnly = true;
  edWidth.Text = "640";
  edHeight.Text = "480";
  cbSpan.Caption = "Span Monitors";
  cbSpan.Enabled = false;
  cbColor.Items = {"Default (Server Settings)", "256 Colors", "High Color (16 bits)",
                   "True Color (24 bits)", "Highest Quality (32 bits)"};
  cbColor.PickOnly = true;
  cbSound.Items = {"Play Sounds On This Computer", "Play Sounds on The Server",
                   "Do Not Play Any Sounds"};
  cbSound.PickOnly = true;
  cbSound.Select(0);
  gbRedirection.Visible = false;
  cbDrv.Caption = "Redirect Drives";
  cbPrt.Caption = "Redirect Printers";
  cbPorts.Caption = "Redirect Ports";
  cbSmartCards.Caption = "Redirect Smart Cards";
  cbClipboard.Caption = "Redirect Clipboard";
  cbPOS.Caption = "Redirect POS Dev.";
  cbxConnType.Items = {"Slow Dialup", "Fast  Dialup", "Broadband", "LAN", "Custom"};
  cbxConnType.PickOnly = true;
  cbxConnType.Select(CONN_TYPE_CUSTOM);
  cbBitmapCache.Caption = "Bitmap Caching";
  cbDesktopWallpaper.Caption = "Desktop Wallpaper";
  cbFullWindowDrag.Caption = "Full Window Drag";
  cbMenuAnim.Caption = "Menu Animation";
  cbThemes.Caption = "Themes";
  btRecommend.Caption = "Recommend";
  btRecommend.Visible = btRecommend.Enabled = false;
  cbConnectToConsole.Caption = "Connect to Console";
}

void TVantrelTCSForm::cbSizeSelect(int prmDefWidth, int prmDefHeight) {
  if (cbSize.ItemIndex == SIZE_CUSTOM) {
    edWidth.Text = std::to_string(prmDefWidth);
    edHeight.Text = std::to_string(prmDefHeight);
    edWidth.Enabled = edHeight.Enabled = true;
    cbSpan.Enabled = false;
    cbSpan.Checked = false;
    return;
  }
  edWidth.Text.clear();
  edHeight.Text.clear();
  edWidth.Enabled = edHeight.Enabled = false;
  if (cbSize.ItemIndex == SIZE_FULL_SCREEN) cbSpan.Enabled = true;
}

void TVantrelTCSForm::cbClipboardClick(int prmRDPMajVer) {
  if (prmRDPMajVer > 5) return;
  if (cbClipboard.Checked) {
    cbPrt.Enabled = true;
  } else {
    cbPrt.Checked = false;
    cbPrt.Enabled = false;
  }
}

void TVantrelTCSForm::cbxConnTypeChange() {
  // Ticked = that feature disabled; order: bitmap caching, wallpaper, drag, menu, themes.
  static const bool kPresets[3][5] = {{false, true, true, true, true},
                                      {false, true, true, true, false},
                                      {false, true, false, false, false}};
  bool none[5] = {false, false, false, false, false};
  const int idx = cbxConnType.ItemIndex;
  const bool* p = (idx >= 0 && idx < 3) ? kPresets[idx] : none;
  cbBitmapCache.Checked = p[0];
  cbDesktopWallpaper.Checked = p[1];
  cbFullWindowDrag.Checked = p[2];
  cbMenuAnim.Checked = p[3];
  cbThemes.Checked = p[4];
}

void TVantrelTCSForm::ShowProgress(const std::string& prmText) {
  ShowStatus(prmText, false);
}

void TVantrelTCSForm::ShowAlert(const std::string& prmText) {
  ShowStatus(prmText, true);
}

void TVantrelTCSForm::ShowStatus(const std::string& prmText, bool prmAlert) {
  Download = {};
  imProg.Visible = !prmAlert;
  imAlert.Visible = prmAlert;
  lblInfo.Caption = prmText;
  lblInfo.Red = prmAlert;
  lblInfo.Visible = true;
}

void TVantrelTCSForm::ClearStatus() {
  Download = {};
  imProg.Visible = imAlert.Visible = false;
  lblInfo.Visible = false;
  lblInfo.Caption.clear();
  lblInfo.Red = false;
}

}  // namespace vantrel
