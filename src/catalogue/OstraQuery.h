// Builds availability-server request URLs: "http://" + server + path, then "?" and name=value
// pairs joined with "&" in the order they are added.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

class TOstraQuery {
 public:
  // prmServer is host:port without a scheme; prmPath begins with "/".
  TOstraQuery(std::string_view prmServer, std::string_view prmPath);

  // The value as it is, without percent-encoding.
  TOstraQuery& Add(std::string_view prmName, std::string_view prmValue);
  TOstraQuery& Add(std::string_view prmName, int prmValue);
  // The value converted to the wire's 8-bit text and form-URL encoded.
  TOstraQuery& AddEncoded(std::string_view prmName, std::string_view prmValue);

  const std::string& URL() const { return m_URL; }

 private:
  std::string m_URL;
  bool m_First = true;
};

}  // namespace vantrel
