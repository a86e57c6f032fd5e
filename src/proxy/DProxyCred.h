// The proxy credentials dialog: three edits (user, password, domain) and OK/Cancel, shown through
// the dialogs interface the host chose. With the domain row hidden the buttons sit right below
// the password edit and the form is one row shorter; the hidden domain edit is still read.
#pragma once

#include <string>

#include "platform/Dialogs.h"

namespace vantrel {

class TDlgProxyCred {
 public:
  // Layout in pixels (client area): where the buttons sit and how tall the form is, with the
  // domain row shown or hidden.
  static constexpr int kClientHeight = 151;
  static constexpr int kPasswordEditTop = 48;
  static constexpr int kEditHeight = 21;
  static constexpr int kPanelTop = 104;

  // prmOwner shows the dialog; it must outlive this object.
  TDlgProxyCred(IDialogs& prmOwner, bool prmShowDomain);

  // Modal: IDOK with the edits holding what was typed, or IDCANCEL (closing counts as Cancel).
  int ShowModal();

  bool DomainShown() const { return m_ShowDomain; }
  int PanelTop() const;
  int ClientHeight() const { return kClientHeight - (kPanelTop - PanelTop()); }

  std::string edUser;
  std::string edPass;
  std::string edDomain;

 private:
  IDialogs& m_Owner;
  bool m_ShowDomain;
};

}  // namespace vantrel
