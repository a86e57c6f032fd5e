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

// A model widget whose value one GTK widget shows and edits. Setting a GTK widget's value raises
// its change signal as typing does, so the signal is ignored while Pull sets it.
template <typename TModel>
class TValueBinding : public TBinding {
 public:
  void Pull() final {
    PullState(m_Model, m_Widget);
    if (Shown()) return;
    m_Pulling = true;
    Show();
    m_Pulling = false;
  }

 protected:
  TValueBinding(TModel& prmModel, GtkWidget* prmWidget, const char* prmSignal, TChanged prmChanged)
      : m_Model(prmModel), m_Widget(prmWidget) {
    OnSignal(prmWidget, prmSignal, [this, changed = std::move(prmChanged)] {
      if (m_Pulling) return;
      Read();
      if (changed) changed();
    });
  }
  // Whether the widget shows the model's value already.
  virtual bool Shown() const = 0;
  // The model's value into the widget.
  virtual void Show() = 0;
  // The user's entry into the model.
  virtual void Read() = 0;

  TModel& m_Model;
  GtkWidget* m_Widget;

 private:
  bool m_Pulling = false;
};

class TCheckBinding final : public TValueBinding<TCheckBox> {
 public:
  TCheckBinding(TCheckBox& prmModel, GtkWidget* prmCheck, TChanged prmChanged)
      : TValueBinding(prmModel, prmCheck, "toggled", std::move(prmChanged)) {}

 private:
  bool Shown() const override { return m_Model.Checked == m_Shown; }
  void Show() override {
    m_Shown = m_Model.Checked;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(m_Widget), m_Shown);
  }
  void Read() override {
    m_Model.Checked = m_Shown = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(m_Widget));
  }

  bool m_Shown = false;
};

class TComboBinding final : public TValueBinding<TComboBox> {
 public:
  TComboBinding(TComboBox& prmModel, GtkWidget* prmCombo, TChanged prmChanged)
      : TValueBinding(prmModel, prmCombo, "changed", std::move(prmChanged)) {}

 private:
  bool Shown() const override { return m_Model.Items == m_Items && m_Model.ItemIndex == m_Index; }
  void Show() override {
    if (m_Model.Items != m_Items) {
      m_Items = m_Model.Items;
      gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(m_Widget));
      for (const std::string& item : m_Items)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(m_Widget), item.c_str());
    }
    m_Index = m_Model.ItemIndex;
    gtk_combo_box_set_active(GTK_COMBO_BOX(m_Widget), m_Index);
  }
  void Read() override {
    m_Model.Select(gtk_combo_box_get_active(GTK_COMBO_BOX(m_Widget)));
    m_Index = m_Model.ItemIndex;
  }

  std::vector<std::string> m_Items;
  int m_Index = -2;  // nothing shown yet
};

class TEditBinding final : public TValueBinding<TEdit> {
 public:
  TEditBinding(TEdit& prmModel, GtkWidget* prmEntry)
      : TValueBinding(prmModel, prmEntry, "changed", nullptr) {}

 private:
  bool Shown() const override { return m_Model.Text == m_Shown; }
  void Show() override {
    m_Shown = m_Model.Text;
    gtk_entry_set_text(GTK_ENTRY(m_Widget), m_Shown.c_str());
  }
  void Read() override { m_Model.Text = m_Shown = gtk_entry_get_text(GTK_ENTRY(m_Widget)); }

  std::string m_Shown;
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
