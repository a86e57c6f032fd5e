// The embedded form as a settings model: the widgets the dispatch interface reads and writes, the
// status line and images, and the form's own rules (size, clipboard, presets). Window thread only;
// a host renders it and feeds the user's changes back through the same fields and handlers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

struct TWidget {
  bool Visible = true;
  bool Enabled = true;
};
struct TCheckBox : TWidget {
  std::string Caption;
  bool Checked = false;
};
struct TEdit : TWidget {
  std::string Text;
};
struct TComboBox : TWidget {
  std::vector<std::string> Items;
  int ItemIndex = -1;
  std::string Text;       // the typed or selected text
  bool PickOnly = false;  // no typed text
  // Selects prmIndex (-1 for none); an index outside the list changes nothing.
  void Select(int prmIndex);
};
struct TButton : TWidget {
  std::string Caption;
};
struct TAnimatedImage : TWidget {
  bool Animating = false;
  int AnimationSpeed = 100;  // per cent of the picture's own frame rate
};
struct TStatusLabel : TWidget {
  std::string Caption;
  bool Red = false;
};

// Indices of cbSize and cbxConnType.
constexpr int SIZE_FULL_SCREEN = 0;
constexpr int SIZE_CUSTOM = 4;
constexpr int CONN_TYPE_CUSTOM = 4;

class TVantrelTCSForm {
 public:
  TVantrelTCSForm();

  // The size list's rule: full screen frees "Span Monitors", custom takes the given default
  // size, fixed sizes need no size boxes.
  void cbSizeSelect(int prmDefWidth, int prmDefHeight);
  // Only for RDP clients of major version 5 or less: printers follow the clipboard box.
  void cbClipboardClick(int prmRDPMajVer);
  // Applies the selected preset to the five performance boxes.
  void cbxConnTypeChange();

  // The status line: progress image and text, alert image and red text, or nothing.
  void ShowProgress(const std::string& prmText);
  void ShowAlert(const std::string& prmText);
  void ClearStatus();

  std::string Caption = "VantrelTCSX";
  int Width = 385;
  int Height = 378;

  TAnimatedImage imProg, imAlert;
  TStatusLabel lblInfo;
  // The bytes of the download the status line shows (Total 0: none, or not known).
  struct TDownloadBytes {
    uint64_t Done = 0, Total = 0;
  } Download;
  TWidget PageControl1;
  TEdit edHost;
  TComboBox cbHost;
  TButton btConnect, btConnectAs;
  TComboBox cbSize;
  TEdit edWidth, edHeight;
  TCheckBox cbSpan;
  TComboBox cbColor, cbSound;
  TWidget gbRedirection;
  TCheckBox cbDrv, cbPrt, cbPorts, cbSmartCards, cbClipboard, cbPOS;
  TComboBox cbxConnType;
  TCheckBox cbBitmapCache, cbDesktopWallpaper, cbFullWindowDrag, cbMenuAnim, cbThemes;
  TButton btRecommend;
  TCheckBox cbConnectToConsole;

 private:
  void ShowStatus(const std::string& prmText, bool prmAlert);
};

}  // namespace vantrel
