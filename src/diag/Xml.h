// The system's one XML module: parsing, depth-first element lookup, reading and writing text and
// attributes, building and serialising request documents. The parser library stays behind this
// header, so users neither include nor link it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "diag/TextCodecs.h"

namespace pugi {
struct xml_node_struct;
class xml_document;
}  // namespace pugi

namespace vantrel {

// A non-owning handle on one element of a TXmlDoc. It is valid while its document lives and is
// cheap to copy. A default handle means "no element": reads on it give empty text or the given
// default, finds give nothing, and writes do nothing.
class TXmlNode {
 public:
  TXmlNode() = default;

  bool IsValid() const { return m_Node != nullptr; }
  explicit operator bool() const { return IsValid(); }

  std::string Name() const;
  // The element's own character data: its text and CDATA children joined in order (comments and
  // child elements are skipped, whitespace kept as sent).
  std::string Text() const;
  // Decodes Text() as Base64 into prmBytes. False (prmBytes emptied) when the text is not a
  // whole number of Base64 quads.
  bool TextBase64(TBytes& prmBytes) const;

  // Depth-first search of the subtree below this element in document order (each child's subtree
  // before its next sibling); the element itself is not a candidate. Names are compared without
  // regard to ASCII case. Iterative: deep documents cannot exhaust the stack.
  TXmlNode FindFirst(std::string_view prmName) const;
  std::vector<TXmlNode> FindAll(std::string_view prmName) const;

  // Direct element children in document order, and the enclosing element (none for the root).
  std::vector<TXmlNode> Children() const;
  TXmlNode Parent() const;

  // Attribute names are matched exactly (XML attribute names are case-sensitive).
  bool HasAttr(std::string_view prmName) const;
  std::string Attr(std::string_view prmName, std::string_view prmDefault = {}) const;
  // The attribute as a strict signed decimal (TryStrToInt); missing or not an integer gives
  // prmDefault.
  int AttrInt(std::string_view prmName, int prmDefault) const;

  // Building. AddChild appends an element; SetText replaces the element's character data (text
  // ends at a zero byte). Names are ASCII letters, digits, "_", ":", "-", "." and non-ASCII
  // bytes, not starting with a digit, "-" or "."; another name is refused (AddChild gives no
  // element, SetAttr writes nothing), so what SaveToString writes always parses again.
  TXmlNode AddChild(std::string_view prmName) const;
  void SetText(std::string_view prmText) const;
  void SetAttr(std::string_view prmName, std::string_view prmValue) const;
  void SetAttrInt(std::string_view prmName, int prmValue) const;

  bool operator==(const TXmlNode& prmOther) const { return m_Node == prmOther.m_Node; }
  // The element's identity, for maps keyed by element: equal for handles on the same element.
  const void* Key() const { return m_Node; }

 private:
  friend class TXmlDoc;
  explicit TXmlNode(pugi::xml_node_struct* prmNode) : m_Node(prmNode) {}
  pugi::xml_node_struct* m_Node = nullptr;
};

// The most a reply parsed with ParseBytes may hold. The parser spends about 128 bytes on an
// element and 40 on an attribute, and its users build objects per element, so a reply within its
// size limit could otherwise grow the process many times over. Counted before parsing as the
// reply's "<" and "=" bytes, an upper bound for both.
constexpr size_t kMaxXmlElements = 50000;
constexpr size_t kMaxXmlAttributes = 400000;

// Owns one parsed or built document. Parsing never raises: a failure leaves the document without
// a root (IsValid false) and GetError holds the parser's message. No DTD is processed and no
// entity is expanded beyond the five predefined ones and character references; an unknown entity
// reference stays as written, and a repeated attribute name is kept (the first one is read).
class TXmlDoc {
 public:
  TXmlDoc();
  ~TXmlDoc();
  TXmlDoc(TXmlDoc&&) noexcept;
  TXmlDoc& operator=(TXmlDoc&&) noexcept;
  TXmlDoc(const TXmlDoc&) = delete;
  TXmlDoc& operator=(const TXmlDoc&) = delete;

  // Program text (UTF-8).
  static TXmlDoc Parse(std::string_view prmText);
  // A reply body as received: the encoding follows its byte-order mark or declaration
  // (UTF-8, UTF-16, UTF-32, Latin-1); without either it is taken as UTF-8. A reply over the
  // bounds above is refused whole, before anything is built ("too many elements").
  static TXmlDoc ParseBytes(const void* prmData, size_t prmLen);
  static TXmlDoc ParseBytes(const TBytes& prmBytes) {
    return ParseBytes(prmBytes.data(), prmBytes.size());
  }
  // A new document holding only the root element prmRootName; an unusable name gives an invalid
  // document with its error text.
  static TXmlDoc Create(std::string_view prmRootName);

  bool IsValid() const { return Root().IsValid(); }
  // Empty after a successful parse; otherwise the parser's description and the byte offset.
  const std::string& GetError() const { return m_Error; }
  TXmlNode Root() const;

  // UTF-8 without byte-order mark, on one line with no indentation or line breaks added, so the
  // bytes sent are exactly the data. With prmDeclaration it begins with
  // <?xml version="1.0" encoding="UTF-8"?>. An invalid document gives empty text.
  std::string SaveToString(bool prmDeclaration = true) const;

 private:
  std::unique_ptr<pugi::xml_document> m_Doc;
  std::string m_Error;
};

}  // namespace vantrel
