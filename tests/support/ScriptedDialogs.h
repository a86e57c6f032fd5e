// Dialogs that answer from a script, for tests.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Dialogs.h"

namespace vantrel {

// Each dialog takes the next queued answer (or, when none is left,
// the answer of TLoggingDialogs) and is recorded as shown. Safe from any thread.
class TScriptedDialogs : public IDialogs {
 public:
  enum class TKind { MessageBox, AskButtons, Login, SelectCertificate, ServerCert, Secret };

  struct TAnswer {
    // IDOK/IDCANCEL/IDYES/...; for SelectCertificate IDOK chooses Index (negative: OK without a
    // selection); for ServerCert IDOK accepts once, IDYES accepts and remembers, anything else
    // refuses.
    int Result = IDOK;
    std::string User, Password, Domain;  // Login on IDOK; Password also answers AskSecret
    int Index = 0;
  };

  // What a dialog showed. Prompt holds the initial texts for Login; Buttons the captions of
  // AskButtons; Rows the certificate rows.
  struct TShown {
    TKind Kind = TKind::MessageBox;
    std::string Text;
    std::string Caption;
    uint32_t Flags = 0;
    std::vector<std::string> Buttons;
    TLoginPrompt Prompt;
    std::vector<TCertRow> Rows;
    TServerCertInfo ServerCert;
    int Result = 0;
  };

  void Push(TAnswer prmAnswer);
  void PushResult(int prmResult) { Push(TAnswer{prmResult, {}, {}, {}, 0}); }
  void PushLogin(std::string prmUser, std::string prmPassword, std::string prmDomain = {});
  void PushSecret(std::string prmSecret) { Push(TAnswer{IDOK, {}, std::move(prmSecret), {}, 0}); }
  std::vector<TShown> Shown() const;
  size_t Pending() const;

  VANTREL_IDIALOGS_OVERRIDES;

 private:
  // Takes the next answer, or nothing queued -> false.
  bool Next(TAnswer& prmAnswer);
  void Record(TShown prmShown);
  static TShown MakeShown(TKind prmKind, const std::string& prmText, const std::string& prmCaption,
                          int prmResult);

  mutable std::mutex m_Lock;
  std::deque<TAnswer> m_Answers;
  std::vector<TShown> m_Shown;
};

}  // namespace vantrel
