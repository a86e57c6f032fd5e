// The availability server's settings as it may send them. The bytes are tried as a whole reply
// (loaded from its root) and, because a parser-made document is rarely reached by mutation, also
// as lines that build a settings tree: "name=text" adds an element with text, "name{" opens an
// element, "}" closes it; a name of "#" and one byte picks that entry of the store's own names. The
// conversion error for a non-integer setting is the only failure allowed to escape.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "config/DbMng.h"
#include "diag/Exceptions.h"
#include "diag/Xml.h"

namespace {

using vantrel::TXmlDoc;
using vantrel::TXmlNode;

void LoadFrom(const TXmlNode& prmCfg) {
  vantrel::TDBMng db;
  try {
    db.LoadXML(prmCfg);
    if (db.GetFlagConfig() != 1) __builtin_trap();
  } catch (const vantrel::EBaseException&) {
    if (db.GetFlagConfig() != 0) __builtin_trap();
  }
}

std::string_view PickName(std::string_view prmName) {
  static const std::vector<std::string_view> names = vantrel::TDBMng::XmlSettingNames();
  if (prmName.size() != 2 || prmName[0] != '#') return prmName;
  return names[static_cast<unsigned char>(prmName[1]) % names.size()];
}

TXmlDoc BuildFromLines(std::string_view prmText) {
  TXmlDoc doc = TXmlDoc::Create("Settings");
  std::vector<TXmlNode> open{doc.Root()};
  while (!prmText.empty()) {
    size_t end = prmText.find('\n');
    std::string_view line = prmText.substr(0, end);
    prmText.remove_prefix(end == std::string_view::npos ? prmText.size() : end + 1);
    if (line == "}") {
      if (open.size() > 1) open.pop_back();
    } else if (!line.empty() && line.back() == '{') {
      open.push_back(open.back().AddChild(PickName(line.substr(0, line.size() - 1))));
    } else {
      size_t eq = line.find('=');
      open.back()
          .AddChild(PickName(line.substr(0, eq)))
          .SetText(eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1));
    }
  }
  return doc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* prmData, size_t prmSize) {
  LoadFrom(TXmlDoc::ParseBytes(prmData, prmSize).Root());
  TXmlDoc built = BuildFromLines(std::string_view(reinterpret_cast<const char*>(prmData), prmSize));
  LoadFrom(built.Root());
  // Whatever the builder accepted must serialise to a document that parses again.
  TXmlDoc back = TXmlDoc::Parse(built.SaveToString());
  if (!back.IsValid()) __builtin_trap();
  LoadFrom(back.Root());
  return 0;
}
