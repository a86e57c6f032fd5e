// The system's own exception class. Deliberately not derived from std::exception: a handler that
// catches only the runtime's general class lets it pass, and every thread entry catches it apart.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace vantrel {

// One argument of CreateFmt: an integer (for %d and %x) or a text (for %s).
struct TFmtArg {
  bool IsText = false;
  int64_t Int = 0;
  std::string Text;

  template <typename T>
    requires std::is_integral_v<T> || std::is_enum_v<T>
  TFmtArg(T prmValue) : Int(static_cast<int64_t>(prmValue)) {}
  TFmtArg(std::string_view prmText) : IsText(true), Text(prmText) {}
  TFmtArg(const std::string& prmText) : IsText(true), Text(prmText) {}
  TFmtArg(const char* prmText) : IsText(true), Text(prmText ? prmText : "") {}
};

// Formats %d (decimal), %x (upper-case hexadecimal of the 32-bit value), %s (text) and %%.
// A placeholder without an argument, or of the wrong kind, is written as it stands.
std::string FormatMsg(std::string_view prmFmt, const std::vector<TFmtArg>& prmArgs);

class EBaseException {
 public:
  explicit EBaseException(std::string prmMsg) : m_Msg(std::move(prmMsg)) {}

  template <typename... Args>
  static EBaseException CreateFmt(std::string_view prmFmt, Args&&... prmArgs) {
    return EBaseException(FormatMsg(prmFmt, {TFmtArg(std::forward<Args>(prmArgs))...}));
  }

  const std::string& GetMsg() const { return m_Msg; }

 private:
  std::string m_Msg;
};

}  // namespace vantrel
