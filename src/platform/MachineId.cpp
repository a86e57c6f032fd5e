#include "platform/MachineId.h"

#include <fstream>

#include "diag/TextCodecs.h"

namespace vantrel {

std::string ReadMachineId(const std::vector<std::string>& prmPaths) {
  // An identifier is 32 hex digits; anything much longer is not one and is not read whole.
  constexpr std::streamsize kMaxLen = 128;
  for (const std::string& path : prmPaths) {
    std::ifstream in(path, std::ios::binary);
    if (!in) continue;
    std::string buf(kMaxLen, '\0');
    in.read(buf.data(), kMaxLen);
    buf.resize(static_cast<size_t>(in.gcount()));
    std::string id = Trim(buf.substr(0, buf.find('\n')));
    if (!id.empty()) return id;
  }
  return std::string();
}

}  // namespace vantrel
