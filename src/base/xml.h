// A small XML document model: enough to load a configuration file, change
// elements and attributes and write it back without losing what the
// editor does not understand (comments, processing instructions, the
// document type with its internal subset, CDATA sections and references to
// entities the document defines itself stay as they were read).
//
// Documents are read from UTF-8, UTF-16 (either byte order, with or
// without a byte-order mark) and the single-byte Latin encodings, and
// written back in the encoding their declaration names.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace kyt {

struct XmlNode {
  enum class Kind { document, element, text, cdata, comment, instruction, doctype, entity };
  Kind kind = Kind::element;
  Text name;   // element, instruction target, entity name
  Text value;  // text, CDATA, comment, instruction data, the whole doctype
  std::vector<std::pair<Text, Text>> attributes;
  std::vector<std::unique_ptr<XmlNode>> children;
  XmlNode* parent = nullptr;

  XmlNode* add(std::unique_ptr<XmlNode> child, size_t position);
  XmlNode* add(std::unique_ptr<XmlNode> child) { return add(std::move(child), children.size()); }
  void remove(const XmlNode* child);
  const Text* attribute(TextView attribute_name) const;
  void set_attribute(TextView attribute_name, TextView attribute_value);
  void remove_attribute(TextView attribute_name);
  // The text of the node and everything below it, as one string.
  Text text() const;
  // Replaces the element's children by one text node (none for an empty
  // text).
  void set_text(TextView text);
};

class XmlDocument {
 public:
  XmlDocument();
  // A new document that holds only the declaration with this encoding.
  static XmlDocument with_declaration(TextView encoding);
  // Empty with the reason when the bytes are no well-formed document.
  // Without `preserve_white_space`, text that is only white space between
  // markup is dropped.
  static std::optional<XmlDocument> parse(std::string_view bytes, bool preserve_white_space,
                                          Text* error = nullptr);

  XmlNode& root() { return *root_; }
  const XmlNode& root() const { return *root_; }
  XmlNode* document_element();
  // Replaces the document element (or adds one).
  XmlNode* set_document_element(TextView name);
  void remove_document_element();

  // Format 0 writes the tree as it is; any other format starts every
  // element of element-only content on its own indented line. Lines end
  // with CR LF. The bytes are in the declared encoding.
  std::string save(int format) const;

 private:
  std::unique_ptr<XmlNode> root_;
};

std::unique_ptr<XmlNode> make_element(TextView name);

}  // namespace kyt
