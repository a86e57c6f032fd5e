#include "diag/Xml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cstring>

#include "diag/Exceptions.h"

namespace vantrel {

namespace {

// Keeps an element's text when it is only whitespace ("<domain> </domain>" reads " "), while the
// indentation between elements is still dropped.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_ws_pcdata_single;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

pugi::xml_node Wrap(pugi::xml_node_struct* prmNode) {
  return pugi::xml_node(prmNode);
}

// Names the builder accepts: ASCII letters, "_", ":" and any non-ASCII byte, then also digits,
// "-" and "."; exactly what the parser reads back as a name.
bool IsXmlName(std::string_view prmName) {
  auto isStart = [](unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == ':' || c >= 0x80;
  };
  if (prmName.empty() || !isStart(static_cast<unsigned char>(prmName.front()))) return false;
  for (char ch : prmName) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (!isStart(c) && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
  }
  return true;
}

bool IsData(const pugi::xml_node& prmNode) {
  return prmNode.type() == pugi::node_pcdata || prmNode.type() == pugi::node_cdata;
}

// Visits the elements below prmStart depth-first in document order until prmVisit returns true.
// Walks the tree through its links instead of recursing, so nesting depth costs no stack.
template <typename TVisit>
void WalkElements(pugi::xml_node prmStart, TVisit prmVisit) {
  pugi::xml_node cur = prmStart.first_child();
  while (cur) {
    if (cur.type() == pugi::node_element && prmVisit(cur)) return;
    if (cur.first_child()) {
      cur = cur.first_child();
      continue;
    }
    while (cur != prmStart && !cur.next_sibling()) cur = cur.parent();
    if (cur == prmStart) return;
    cur = cur.next_sibling();
  }
}

class TStringWriter : public pugi::xml_writer {
 public:
  explicit TStringWriter(std::string& prmOut) : m_Out(prmOut) {}
  void write(const void* prmData, size_t prmSize) override {
    m_Out.append(static_cast<const char*>(prmData), prmSize);
  }

 private:
  std::string& m_Out;
};

}  // namespace

std::string TXmlNode::Name() const {
  return Wrap(m_Node).name();
}

std::string TXmlNode::Text() const {
  std::string out;
  for (pugi::xml_node child = Wrap(m_Node).first_child(); child; child = child.next_sibling())
    if (IsData(child)) out += child.value();
  return out;
}

bool TXmlNode::TextBase64(TBytes& prmBytes) const {
  prmBytes.clear();
  try {
    prmBytes = Base64Decode(Text());
    return true;
  } catch (const EBaseException&) {
    return false;
  }
}

TXmlNode TXmlNode::FindFirst(std::string_view prmName) const {
  TXmlNode found;
  if (!m_Node) return found;
  WalkElements(Wrap(m_Node), [&](const pugi::xml_node& prmNode) {
    if (!SameText(prmNode.name(), prmName)) return false;
    found = TXmlNode(prmNode.internal_object());
    return true;
  });
  return found;
}

std::vector<TXmlNode> TXmlNode::FindAll(std::string_view prmName) const {
  std::vector<TXmlNode> found;
  if (!m_Node) return found;
  WalkElements(Wrap(m_Node), [&](const pugi::xml_node& prmNode) {
    if (SameText(prmNode.name(), prmName)) found.push_back(TXmlNode(prmNode.internal_object()));
    return false;
  });
  return found;
}

std::vector<TXmlNode> TXmlNode::Children() const {
  std::vector<TXmlNode> out;
  for (pugi::xml_node child = Wrap(m_Node).first_child(); child; child = child.next_sibling())
    if (child.type() == pugi::node_element) out.push_back(TXmlNode(child.internal_object()));
  return out;
}

TXmlNode TXmlNode::Parent() const {
  pugi::xml_node parent = Wrap(m_Node).parent();
  return parent.type() == pugi::node_element ? TXmlNode(parent.internal_object()) : TXmlNode();
}

bool TXmlNode::HasAttr(std::string_view prmName) const {
  return static_cast<bool>(Wrap(m_Node).attribute(std::string(prmName).c_str()));
}

std::string TXmlNode::Attr(std::string_view prmName, std::string_view prmDefault) const {
  pugi::xml_attribute attr = Wrap(m_Node).attribute(std::string(prmName).c_str());
  return attr ? std::string(attr.value()) : std::string(prmDefault);
}

int TXmlNode::AttrInt(std::string_view prmName, int prmDefault) const {
  pugi::xml_attribute attr = Wrap(m_Node).attribute(std::string(prmName).c_str());
  int value = 0;
  return attr && TryStrToInt(attr.value(), value) ? value : prmDefault;
}

TXmlNode TXmlNode::AddChild(std::string_view prmName) const {
  if (!m_Node || !IsXmlName(prmName)) return TXmlNode();
  return TXmlNode(Wrap(m_Node).append_child(std::string(prmName).c_str()).internal_object());
}

void TXmlNode::SetText(std::string_view prmText) const {
  if (!m_Node) return;
  pugi::xml_node node = Wrap(m_Node);
  for (pugi::xml_node child = node.first_child(); child;) {
    pugi::xml_node next = child.next_sibling();
    if (IsData(child)) node.remove_child(child);
    child = next;
  }
  if (!prmText.empty())
    node.prepend_child(pugi::node_pcdata).set_value(std::string(prmText).c_str());
}

void TXmlNode::SetAttr(std::string_view prmName, std::string_view prmValue) const {
  if (!m_Node || !IsXmlName(prmName)) return;
  pugi::xml_node node = Wrap(m_Node);
  std::string name(prmName);
  pugi::xml_attribute attr = node.attribute(name.c_str());
  if (!attr) attr = node.append_attribute(name.c_str());
  attr.set_value(std::string(prmValue).c_str());
}

void TXmlNode::SetAttrInt(std::string_view prmName, int prmValue) const {
  SetAttr(prmName, std::to_string(prmValue));
}

TXmlDoc::TXmlDoc() : m_Doc(std::make_unique<pugi::xml_document>()) {}
TXmlDoc::~TXmlDoc() = default;
TXmlDoc::TXmlDoc(TXmlDoc&&) noexcept = default;
TXmlDoc& TXmlDoc::operator=(TXmlDoc&&) noexcept = default;

namespace {

void Load(const void* prmData, size_t prmLen, pugi::xml_encoding prmEncoding,
          pugi::xml_document& prmDoc, std::string& prmError) {
  pugi::xml_parse_result res = prmDoc.load_buffer(prmData, prmLen, kParseFlags, prmEncoding);
  if (!res) {
    // A failed parse keeps what it read so far; a half document must not look usable.
    prmDoc.reset();
    prmError = FormatMsg("XML parse error: %s at offset %d",
                         {TFmtArg(res.description()), TFmtArg(static_cast<int64_t>(res.offset))});
    return;
  }
  // The parser accepts several top-level elements; a reply like that is not one document.
  pugi::xml_node root = prmDoc.document_element();
  for (pugi::xml_node n = root.next_sibling(); n; n = n.next_sibling()) {
    if (n.type() != pugi::node_element) continue;
    prmDoc.reset();
    prmError = "XML parse error: More than one root element";
    return;
  }
}

// The "<" bytes not followed by "/" or "?": every start tag and every CDATA section (a node of
// its own) is one. Comments and some bytes of UTF-16 or UTF-32 text count as well, which keeps it
// a bound.
size_t CountStartTags(const char* prmText, size_t prmLen) {
  size_t count = 0;
  const char* end = prmText + prmLen;
  for (const char* p = prmText;
       (p = static_cast<const char*>(memchr(p, '<', static_cast<size_t>(end - p)))) != nullptr; ++p)
    if (p + 1 == end || (p[1] != '/' && p[1] != '?')) ++count;
  return count;
}

}  // namespace

TXmlDoc TXmlDoc::Parse(std::string_view prmText) {
  TXmlDoc doc;
  Load(prmText.data(), prmText.size(), pugi::encoding_utf8, *doc.m_Doc, doc.m_Error);
  return doc;
}

TXmlDoc TXmlDoc::ParseBytes(const void* prmData, size_t prmLen) {
  TXmlDoc doc;
  const char* text = static_cast<const char*>(prmData);
  if (CountStartTags(text, prmLen) > kMaxXmlElements) {
    doc.m_Error = "XML parse error: too many elements";
    return doc;
  }
  if (static_cast<size_t>(std::count(text, text + prmLen, '=')) > kMaxXmlAttributes) {
    doc.m_Error = "XML parse error: too many attributes";
    return doc;
  }
  Load(prmData, prmLen, pugi::encoding_auto, *doc.m_Doc, doc.m_Error);
  return doc;
}

TXmlDoc TXmlDoc::Create(std::string_view prmRootName) {
  TXmlDoc doc;
  if (IsXmlName(prmRootName))
    doc.m_Doc->append_child(std::string(prmRootName).c_str());
  else
    doc.m_Error = "Invalid XML element name";
  return doc;
}

TXmlNode TXmlDoc::Root() const {
  return m_Doc ? TXmlNode(m_Doc->document_element().internal_object()) : TXmlNode();
}

std::string TXmlDoc::SaveToString(bool prmDeclaration) const {
  std::string out;
  if (!IsValid()) return out;
  if (prmDeclaration) out = kDeclaration;
  TStringWriter writer(out);
  m_Doc->save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return out;
}

}  // namespace vantrel
