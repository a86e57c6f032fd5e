// The availability server's settings as it may send them: any document, loaded from its root.
// The conversion error for a non-integer setting is the only failure allowed to escape.
#include <cstddef>
#include <cstdint>

#include "config/DbMng.h"
#include "diag/Exceptions.h"
#include "diag/Xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  vantrel::TXmlDoc doc = vantrel::TXmlDoc::ParseBytes(prmData, prmSize);
  vantrel::TDBMng db;
  try {
    db.LoadXML(doc.Root());
    if (db.GetFlagConfig() != 1) __builtin_trap();
  } catch (const vantrel::EBaseException&) {
    if (db.GetFlagConfig() != 0) __builtin_trap();
  }
  return 0;
}
