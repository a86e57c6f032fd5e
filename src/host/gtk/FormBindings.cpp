#include "host/gtk/FormBindings.h"

#include "host/gtk/GtkUtil.h"

namespace vantrel::host::gtk {

namespace {

void PullState(const TWidget& prmModel, GtkWidget* prmWidget) {
  if (gtk_widget_get_visible(prmWidget) != static_cast<gboolean>(prmModel.Visible))
    gtk_widget_set_visible(prmWidget, prmModel.Visible);
  if (gtk_widget_get_sensitive(prmWidget) != static_cast<gboolean>(prmModel.Enabled))
    gtk_widget_set_sensitive(prmWidget, prmModel.Enabled);
}

class TStateBinding : public TBinding {
 public:
  TStateBinding(TWidget& prmModel, GtkWidget* prmWidget) : m_Model(prmModel), m_Widget(prmWidget) {}
  void Pull() override { PullState(m_Model, m_Widget); }

 private:
  TWidget& m_Model;
  GtkWidget* m_Widget;
};

class TCheckBinding : public TBinding {
 public:
  TCheckBinding(TCheckBox& prmModel, GtkWidget* prmCheck, TChanged prmChanged)
      : m_Model(prmModel), m_Check(prmCheck) {
    OnSignal(prmCheck, "toggled", [this, changed = std::move(prmChanged)] {
      if (m_Pulling) return;
      m_Model.Checked = m_Shown = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(m_Check));
      if (changed) changed();
    });
  }
  void Pull() override {
    PullState(m_Model, m_Check);
    if (m_Model.Checked == m_Shown) return;
    m_Pulling = true;
    m_Shown = m_Model.Checked;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(m_Check), m_Shown);
    m_Pulling = false;
  }

 private:
  TCheckBox& m_Model;
  GtkWidget* m_Check;
  bool m_Shown = false;
  bool m_Pulling = false;
};

class TComboBinding : public TBinding {
 public:
  TComboBinding(TComboBox& prmModel, GtkWidget* prmCombo, TChanged prmChanged)
      : m_Model(prmModel), m_Combo(prmCombo) {
    OnSignal(prmCombo, "changed", [this, changed = std::move(prmChanged)] {
      if (m_Pulling) return;
      m_Model.Select(gtk_combo_box_get_active(GTK_COMBO_BOX(m_Combo)));
      m_Index = m_Model.ItemIndex;
      if (changed) changed();
    });
  }
  void Pull() override {
    PullState(m_Model, m_Combo);
    if (m_Model.Items == m_Items && m_Model.ItemIndex == m_Index) return;
    m_Pulling = true;
    if (m_Model.Items != m_Items) {
      m_Items = m_Model.Items;
      gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(m_Combo));
      for (const std::string& item : m_Items)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(m_Combo), item.c_str());
    }
    m_Index = m_Model.ItemIndex;
    gtk_combo_box_set_active(GTK_COMBO_BOX(m_Combo), m_Index);
    m_Pulling = false;
  }

 private:
  TComboBox& m_Model;
  GtkWidget* m_Combo;
  std::vector<std::string> m_Items;
  int m_Index = -2;  // nothing shown yet
  bool m_Pulling = false;
};

class TEditBinding : public TBinding {
 public:
  TEditBinding(TEdit& prmModel, GtkWidget* prmEntry) : m_Model(prmModel), m_Entry(prmEntry) {
    OnSignal(prmEntry, "changed", [this] {
      if (!m_Pulling) m_Model.Text = m_Shown = gtk_entry_get_text(GTK_ENTRY(m_Entry));
    });
  }
  void Pull() override {
    PullState(m_Model, m_Entry);
    if (m_Model.Text == m_Shown) return;
    m_Pulling = true;
    m_Shown = m_Model.Text;
    gtk_entry_set_text(GTK_ENTRY(m_Entry), m_Shown.c_str());
    m_Pulling = false;
  }

 private:
  TEdit& m_Model;
  GtkWidget* m_Entry;
  std::string m_Shown;
  bool m_Pulling = false;
};

}  // namespace

std::unique_ptr<TBinding> BindCheck(TCheckBox& prmModel, GtkWidget* prmCheck, TChanged prmChanged) {
  return std::make_unique<TCheckBinding>(prmModel, prmCheck, std::move(prmChanged));
}

std::unique_ptr<TBinding> BindCombo(TComboBox& prmModel, GtkWidget* prmCombo, TChanged prmChanged) {
  return std::make_unique<TComboBinding>(prmModel, prmCombo, std::move(prmChanged));
}

std::unique_ptr<TBinding> BindEdit(TEdit& prmModel, GtkWidget* prmEntry) {
  return std::make_unique<TEditBinding>(prmModel, prmEntry);
}

std::unique_ptr<TBinding> BindState(TWidget& prmModel, GtkWidget* prmWidget) {
  return std::make_unique<TStateBinding>(prmModel, prmWidget);
}

}  // namespace vantrel::host::gtk
