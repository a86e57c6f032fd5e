#include "verify/PolicyMask.h"

#include <exception>
#include <random>

#include "diag/Exceptions.h"
#include "diag/TextCodecs.h"

namespace vantrel {

namespace {

std::string Decode(std::string_view prmText) {
  TBytes bytes = Base64Decode(prmText);
  return std::string(bytes.begin(), bytes.end());
}

bool IsDigit(char prmChar) {
  return prmChar >= '0' && prmChar <= '9';
}

}  // namespace

std::string_view ClvPolicyKey() {
  return VANTREL_CLV_POLICY_KEY;
}
std::string_view ClvAnswerKey() {
  return VANTREL_CLV_ANSWER_KEY;
}

std::string XorRepeat(std::string_view prmText, std::string_view prmWith) {
  std::string out(prmText);
  if (prmWith.empty()) return out;
  for (size_t i = 0; i < out.size(); ++i) out[i] ^= prmWith[i % prmWith.size()];
  return out;
}

std::string MaskText(std::string_view prmText, std::string_view prmSalt, std::string_view prmKey) {
  std::string length = std::to_string(prmSalt.size() % 100);
  if (length.size() < 2) length = "0" + length;
  std::string inner = Base64Encode(length + std::string(prmSalt) + XorRepeat(prmText, prmSalt));
  return Base64Encode(XorRepeat(inner, prmKey));
}

bool UnmaskText(std::string_view prmMasked, std::string_view prmKey, std::string& prmText) {
  prmText.clear();
  try {
    std::string inner = Decode(XorRepeat(Decode(prmMasked), prmKey));
    if (inner.size() < 2 || !IsDigit(inner[0]) || !IsDigit(inner[1])) return false;
    size_t saltLength = static_cast<size_t>((inner[0] - '0') * 10 + (inner[1] - '0'));
    if (inner.size() < 2 + saltLength) return false;
    prmText = XorRepeat(std::string_view(inner).substr(2 + saltLength),
                        std::string_view(inner).substr(2, saltLength));
    return true;
  } catch (const EBaseException&) {
    prmText.clear();
    return false;
  } catch (const std::exception&) {
    prmText.clear();
    return false;
  }
}

std::string DrawSalt() {
  std::random_device source;
  std::uniform_int_distribution<int> length(8, 15);
  std::uniform_int_distribution<int> code(48, 207);
  std::string raw(static_cast<size_t>(length(source)), '\0');
  for (char& c : raw) c = static_cast<char>(code(source));
  return Base64Encode(raw);
}

}  // namespace vantrel
