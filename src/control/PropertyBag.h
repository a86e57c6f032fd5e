// The page's start parameters: the values of the object tag, read by name. A name the bag does
// not hold is "not read" (the property is absent).
#pragma once

#include <map>
#include <string>

namespace vantrel {

class IPropertyBag {
 public:
  virtual ~IPropertyBag() = default;
  // True with the value when the bag holds prmName.
  virtual bool Read(const std::string& prmName, std::string& prmValue) = 0;
};

// A bag over a map, for hosts that collect the parameters first and for tests.
class TMapPropertyBag : public IPropertyBag {
 public:
  TMapPropertyBag() = default;
  explicit TMapPropertyBag(std::map<std::string, std::string> prmValues)
      : m_Values(std::move(prmValues)) {}
  bool Read(const std::string& prmName, std::string& prmValue) override {
    auto it = m_Values.find(prmName);
    if (it == m_Values.end()) return false;
    prmValue = it->second;
    return true;
  }
  void Set(const std::string& prmName, const std::string& prmValue) {
    m_Values[prmName] = prmValue;
  }

 private:
  std::map<std::string, std::string> m_Values;
};

}  // namespace vantrel
