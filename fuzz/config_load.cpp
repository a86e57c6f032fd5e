// The configuration string as a page may send it: arbitrary bytes, read both as plain text (with
// the leading "*") and as shifted text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/DbMng.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  const std::string text(reinterpret_cast<const char*>(prmData), prmSize);
  for (const std::string& cfg : {text, "*" + text}) {
    vantrel::TDBMng db;
    db.Load(cfg);
    if (db.GetFlagConfig() != 1) __builtin_trap();
    for (int i = -1; i <= db.GetPluginsCount(); ++i) {
      (void)db.GetPluginName(i);
      (void)db.IsPluginReq(i);
    }
  }
  return 0;
}
