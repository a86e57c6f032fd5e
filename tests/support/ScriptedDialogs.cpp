#include "support/ScriptedDialogs.h"

namespace vantrel {

void TScriptedDialogs::Push(TAnswer prmAnswer) {
  std::lock_guard<std::mutex> g(m_Lock);
  m_Answers.push_back(std::move(prmAnswer));
}

void TScriptedDialogs::PushLogin(std::string prmUser, std::string prmPassword,
                                 std::string prmDomain) {
  Push(TAnswer{IDOK, std::move(prmUser), std::move(prmPassword), std::move(prmDomain), 0});
}

std::vector<TScriptedDialogs::TShown> TScriptedDialogs::Shown() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Shown;
}

size_t TScriptedDialogs::Pending() const {
  std::lock_guard<std::mutex> g(m_Lock);
  return m_Answers.size();
}

bool TScriptedDialogs::Next(TAnswer& prmAnswer) {
  std::lock_guard<std::mutex> g(m_Lock);
  if (m_Answers.empty()) return false;
  prmAnswer = std::move(m_Answers.front());
  m_Answers.pop_front();
  return true;
}

TScriptedDialogs::TShown TScriptedDialogs::MakeShown(TKind prmKind, const std::string& prmText,
                                                     const std::string& prmCaption, int prmResult) {
  TShown s;
  s.Kind = prmKind;
  s.Text = prmText;
  s.Caption = prmCaption;
  s.Result = prmResult;
  return s;
}

void TScriptedDialogs::Record(TShown prmShown) {
  std::lock_guard<std::mutex> g(m_Lock);
  m_Shown.push_back(std::move(prmShown));
}

int TScriptedDialogs::MessageBox(const std::string& prmText, const std::string& prmCaption,
                                 uint32_t prmFlags) {
  TAnswer a;
  int result = Next(a) ? a.Result : DefaultMessageBoxResult(prmFlags);
  TShown s = MakeShown(TKind::MessageBox, prmText, prmCaption, result);
  s.Flags = prmFlags;
  Record(std::move(s));
  return result;
}

int TScriptedDialogs::AskButtons(const std::string& prmText, const std::string& prmCaption,
                                 const std::string& prmFirst, const std::string& prmSecond) {
  TAnswer a;
  int result = Next(a) ? a.Result : IDYES;
  TShown s = MakeShown(TKind::AskButtons, prmText, prmCaption, result);
  s.Buttons = {prmFirst, prmSecond};
  Record(std::move(s));
  return result;
}

int TScriptedDialogs::Login(TLoginPrompt& prmPrompt) {
  TAnswer a;
  int result = Next(a) ? a.Result : IDCANCEL;
  TShown s;
  s.Kind = TKind::Login;
  s.Caption = prmPrompt.Caption;
  s.Prompt = prmPrompt;
  s.Result = result;
  Record(std::move(s));
  if (result == IDOK) {
    prmPrompt.User = a.User;
    prmPrompt.Password = a.Password;
    prmPrompt.Domain = a.Domain;
  }
  return result;
}

int TScriptedDialogs::SelectCertificate(const std::vector<TCertRow>& prmRows) {
  TAnswer a;
  bool scripted = Next(a);
  int index = -1;
  if (scripted && a.Result == IDOK && a.Index < 0) index = kCertNotSelected;
  if (scripted && a.Result == IDOK && a.Index >= 0 && static_cast<size_t>(a.Index) < prmRows.size())
    index = a.Index;
  TShown s;
  s.Kind = TKind::SelectCertificate;
  s.Rows = prmRows;
  s.Result = index;
  Record(std::move(s));
  return index;
}

TServerCertAnswer TScriptedDialogs::ConfirmServerCert(const TServerCertInfo& prmInfo) {
  TAnswer a;
  TServerCertAnswer answer = TServerCertAnswer::Refuse;
  if (Next(a)) {
    if (a.Result == IDOK) answer = TServerCertAnswer::AcceptOnce;
    if (a.Result == IDYES) answer = TServerCertAnswer::AcceptAndRemember;
  }
  TShown s;
  s.Kind = TKind::ServerCert;
  s.ServerCert = prmInfo;
  s.Result = static_cast<int>(answer);
  Record(std::move(s));
  return answer;
}

int TScriptedDialogs::AskSecret(const std::string& prmText, const std::string& prmCaption,
                                std::string& prmSecret) {
  TAnswer a;
  int result = Next(a) ? a.Result : IDCANCEL;
  TShown s = MakeShown(TKind::Secret, prmText, prmCaption, result);
  Record(std::move(s));
  if (result == IDOK) prmSecret = a.Password;
  return result;
}

}  // namespace vantrel
