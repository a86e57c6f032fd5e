// One GTK widget bound to one widget of the form model. Pull copies what the model changed
// since the last pull into the widget (visibility and enabled state always); a change the user
// makes is written to the model at once and then reported to prmChanged, which applies the
// form's own rule for that widget.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "control/VantrelTCSForm.h"

namespace vantrel::host::gtk {

class TBinding {
 public:
  virtual ~TBinding() = default;
  virtual void Pull() = 0;
};

using TChanged = std::function<void()>;

std::unique_ptr<TBinding> BindCheck(TCheckBox& prmModel, GtkWidget* prmCheck, TChanged prmChanged);
std::unique_ptr<TBinding> BindCombo(TComboBox& prmModel, GtkWidget* prmCombo, TChanged prmChanged);
std::unique_ptr<TBinding> BindEdit(TEdit& prmModel, GtkWidget* prmEntry);
// Visibility and enabled state only (buttons, groups, the tab set).
std::unique_ptr<TBinding> BindState(TWidget& prmModel, GtkWidget* prmWidget);

}  // namespace vantrel::host::gtk
