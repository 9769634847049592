#include "base/xml.h"

#include <algorithm>
#include <array>

namespace kyt {

XmlNode* XmlNode::add(std::unique_ptr<XmlNode> child, size_t position) {
  child->parent = this;
  position = std::min(position, children.size());
  return children.insert(children.begin() + static_cast<std::ptrdiff_t>(position), std::move(child))->get();
}

void XmlNode::remove(const XmlNode* child) {
  std::erase_if(children, [child](const std::unique_ptr<XmlNode>& node) { return node.get() == child; });
}

const Text* XmlNode::attribute(TextView attribute_name) const {
  for (const auto& [key, value] : attributes)
    if (key == attribute_name) return &value;
  return nullptr;
}

void XmlNode::set_attribute(TextView attribute_name, TextView attribute_value) {
  for (auto& [key, value] : attributes)
    if (key == attribute_name) {
      value = Text(attribute_value);
      return;
    }
  attributes.emplace_back(Text(attribute_name), Text(attribute_value));
}

void XmlNode::remove_attribute(TextView attribute_name) {
  std::erase_if(attributes, [&](const auto& item) { return item.first == attribute_name; });
}

Text XmlNode::text() const {
  switch (kind) {
    case Kind::text:
    case Kind::cdata:
      return value;
    case Kind::entity:
      return u"&" + name + u";";
    case Kind::element:
    case Kind::document: {
      Text all;
      for (const auto& child : children)
        if (child->kind != Kind::comment && child->kind != Kind::instruction) all += child->text();
      return all;
    }
    default:
      return {};
  }
}

void XmlNode::set_text(TextView text) {
  children.clear();
  if (text.empty()) return;
  auto node = std::make_unique<XmlNode>();
  node->kind = Kind::text;
  node->value = Text(text);
  add(std::move(node));
}

std::unique_ptr<XmlNode> make_element(TextView name) {
  auto node = std::make_unique<XmlNode>();
  node->kind = XmlNode::Kind::element;
  node->name = Text(name);
  return node;
}

XmlDocument::XmlDocument() : root_(std::make_unique<XmlNode>()) { root_->kind = XmlNode::Kind::document; }

XmlDocument XmlDocument::with_declaration(TextView encoding) {
  XmlDocument document;
  auto declaration = std::make_unique<XmlNode>();
  declaration->kind = XmlNode::Kind::instruction;
  declaration->name = u"xml";
  declaration->value = u"version=\"1.0\" encoding=\"" + Text(encoding) + u"\"";
  document.root().add(std::move(declaration));
  return document;
}

XmlNode* XmlDocument::document_element() {
  for (auto& child : root_->children)
    if (child->kind == XmlNode::Kind::element) return child.get();
  return nullptr;
}

XmlNode* XmlDocument::set_document_element(TextView name) {
  size_t position = root_->children.size();
  if (XmlNode* old = document_element()) {
    for (size_t i = 0; i < root_->children.size(); ++i)
      if (root_->children[i].get() == old) position = i;
    root_->remove(old);
  }
  return root_->add(make_element(name), position);
}

void XmlDocument::remove_document_element() {
  if (XmlNode* element = document_element()) root_->remove(element);
}

namespace {

// Windows-1252's characters for the bytes 0x80 to 0x9F.
constexpr std::array<char16_t, 32> kWindows1252 = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

enum class Encoding { utf8, utf16le, utf16be, latin1, windows1252, ascii };

// The value of a pseudo-attribute of the declaration ("encoding" of
// 'version="1.0" encoding="UTF-8"').
Text pseudo_attribute(TextView data, TextView name) {
  size_t at = data.find(name);
  while (at != TextView::npos) {
    size_t i = at + name.size();
    while (i < data.size() && (data[i] == u' ' || data[i] == u'\t')) ++i;
    if (i < data.size() && data[i] == u'=') {
      ++i;
      while (i < data.size() && (data[i] == u' ' || data[i] == u'\t')) ++i;
      if (i < data.size() && (data[i] == u'"' || data[i] == u'\'')) {
        size_t end = data.find(data[i], i + 1);
        if (end != TextView::npos) return Text(data.substr(i + 1, end - i - 1));
      }
    }
    at = data.find(name, at + 1);
  }
  return {};
}

std::optional<Encoding> encoding_named(TextView name) {
  Text lower = to_lower(name);
  if (lower.empty() || lower == u"utf-8" || lower == u"utf8") return Encoding::utf8;
  if (lower == u"utf-16" || lower == u"ucs-2" || lower == u"unicode") return Encoding::utf16le;
  if (lower == u"iso-8859-1" || lower == u"latin1" || lower == u"iso_8859-1" || lower == u"l1")
    return Encoding::latin1;
  if (lower == u"windows-1252" || lower == u"cp1252") return Encoding::windows1252;
  if (lower == u"us-ascii" || lower == u"ascii") return Encoding::ascii;
  return std::nullopt;
}

bool valid_utf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    auto c = static_cast<unsigned char>(bytes[i]);
    size_t extra = c < 0x80 ? 0 : c >= 0xC2 && c < 0xE0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : c >= 0xF0 && c < 0xF5 ? 3 : 9;
    if (extra == 9 || i + extra >= bytes.size()) return false;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
    i += extra + 1;
  }
  return true;
}

Text decode_utf16(std::string_view bytes, bool big_endian) {
  Text text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    text.push_back(static_cast<char16_t>(big_endian ? (a << 8 | b) : (b << 8 | a)));
  }
  return text;
}

// The document's characters and how the bytes were encoded.
std::optional<Text> decode(std::string_view bytes, Encoding& found, bool& bom, Text* error) {
  bom = false;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    found = Encoding::utf16le;
    bom = true;
    return decode_utf16(bytes.substr(2), false);
  }
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE && static_cast<unsigned char>(bytes[1]) == 0xFF) {
    found = Encoding::utf16be;
    bom = true;
    return decode_utf16(bytes.substr(2), true);
  }
  if (bytes.size() >= 2 && bytes[0] == '<' && bytes[1] == 0) {
    found = Encoding::utf16le;
    return decode_utf16(bytes, false);
  }
  if (bytes.size() >= 2 && bytes[0] == 0 && bytes[1] == '<') {
    found = Encoding::utf16be;
    return decode_utf16(bytes, true);
  }
  if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bom = true;
    bytes.remove_prefix(3);
  }
  Text declared;
  if (bytes.substr(0, 5) == "<?xml") {
    size_t end = bytes.find("?>");
    if (end != std::string_view::npos) declared = pseudo_attribute(ascii(bytes.substr(0, end)), u"encoding");
  }
  auto named = encoding_named(declared);
  if (!named || *named == Encoding::utf16le) {
    if (error) *error = u"unsupported encoding \"" + declared + u"\"";
    return std::nullopt;
  }
  found = *named;
  if (found == Encoding::utf8) {
    if (!valid_utf8(bytes)) {
      if (error) *error = u"the text is not valid UTF-8";
      return std::nullopt;
    }
    return from_utf8(bytes);
  }
  Text text;
  text.reserve(bytes.size());
  for (char byte : bytes) {
    auto c = static_cast<unsigned char>(byte);
    text.push_back(found == Encoding::windows1252 && c >= 0x80 && c < 0xA0 ? kWindows1252[c - 0x80]
                                                                           : static_cast<char16_t>(c));
  }
  return text;
}

bool is_space(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool is_name_char(char16_t c) {
  return !is_space(c) && c != u'<' && c != u'>' && c != u'/' && c != u'=' && c != u'"' && c != u'\'' &&
         c != u'&' && c != u'?' && c != u'!' && c != u';' && c != 0;
}

class Parser {
 public:
  Parser(const Text& text, bool preserve) : s_(text), preserve_(preserve) {}

  bool run(XmlNode& document) {
    if (!content(document, true)) return false;
    if (i_ < s_.size()) return fail(u"text after the document element");
    int elements = 0;
    for (const auto& child : document.children) elements += child->kind == XmlNode::Kind::element;
    if (elements != 1) return fail(elements == 0 ? u"no document element" : u"more than one document element");
    return true;
  }

  Text error;

 private:
  bool fail(TextView why) {
    if (error.empty()) error = Text(why) + u" at character " + decimal(static_cast<int64_t>(i_));
    return false;
  }
  bool at(TextView token) const { return TextView(s_).substr(i_, token.size()) == token; }

  Text name() {
    size_t start = i_;
    while (i_ < s_.size() && is_name_char(s_[i_])) ++i_;
    return s_.substr(start, i_ - start);
  }
  void skip_space() {
    while (i_ < s_.size() && is_space(s_[i_])) ++i_;
  }

  // Decodes a character or predefined entity reference at i_ (just after
  // "&"); empty when it is another entity.
  std::optional<Text> reference(Text& entity) {
    size_t end = s_.find(u';', i_);
    if (end == Text::npos || end - i_ > 32) return fail(u"unterminated reference"), std::nullopt;
    TextView ref = TextView(s_).substr(i_, end - i_);
    i_ = end + 1;
    if (ref.size() >= 2 && ref[0] == u'#') {
      uint32_t code = 0;
      bool hex = ref[1] == u'x';
      if (ref.size() == (hex ? 2u : 1u)) return fail(u"empty character reference"), std::nullopt;
      for (size_t k = hex ? 2 : 1; k < ref.size(); ++k) {
        char16_t c = ref[k];
        uint32_t digit = c >= u'0' && c <= u'9'                 ? c - u'0'
                         : hex && c >= u'a' && c <= u'f'         ? c - u'a' + 10
                         : hex && c >= u'A' && c <= u'F'         ? c - u'A' + 10
                                                                 : 99;
        if (digit >= (hex ? 16u : 10u) || code > 0x10FFFF) return fail(u"bad character reference"), std::nullopt;
        code = code * (hex ? 16 : 10) + digit;
      }
      if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        return fail(u"bad character reference"), std::nullopt;
      if (code < 0x10000) return Text(1, static_cast<char16_t>(code));
      code -= 0x10000;
      return Text{static_cast<char16_t>(0xD800 + (code >> 10)), static_cast<char16_t>(0xDC00 + (code & 0x3FF))};
    }
    if (ref == u"lt") return Text(u"<");
    if (ref == u"gt") return Text(u">");
    if (ref == u"amp") return Text(u"&");
    if (ref == u"quot") return Text(u"\"");
    if (ref == u"apos") return Text(u"'");
    if (ref.empty() || !std::all_of(ref.begin(), ref.end(), is_name_char))
      return fail(u"bad entity reference"), std::nullopt;
    entity = Text(ref);
    return Text();
  }

  bool add_text(XmlNode& parent, Text text, bool top) {
    if (text.empty()) return true;
    bool blank = std::all_of(text.begin(), text.end(), is_space);
    if (top) return blank || fail(u"text outside the document element");
    if (blank && !preserve_) return true;
    auto node = std::make_unique<XmlNode>();
    node->kind = XmlNode::Kind::text;
    node->value = std::move(text);
    parent.add(std::move(node));
    return true;
  }

  bool content(XmlNode& parent, bool top) {
    Text pending;
    while (i_ < s_.size()) {
      char16_t c = s_[i_];
      if (c == u'&') {
        if (top) return fail(u"reference outside the document element");
        ++i_;
        Text entity;
        auto decoded = reference(entity);
        if (!decoded) return false;
        if (entity.empty()) {
          pending += *decoded;
          continue;
        }
        if (!add_text(parent, std::move(pending), top)) return false;
        pending.clear();
        auto node = std::make_unique<XmlNode>();
        node->kind = XmlNode::Kind::entity;
        node->name = entity;
        parent.add(std::move(node));
        continue;
      }
      if (c != u'<') {
        pending.push_back(c);
        ++i_;
        continue;
      }
      if (!add_text(parent, std::move(pending), top)) return false;
      pending.clear();
      if (at(u"</")) return !top || fail(u"end tag outside the document element");
      if (!markup(parent, top)) return false;
    }
    if (!top) return fail(u"unexpected end of the document");
    return add_text(parent, std::move(pending), top);
  }

  bool until(TextView end, XmlNode::Kind kind, XmlNode& parent, size_t skip) {
    size_t stop = s_.find(end, i_ + skip);
    if (stop == Text::npos) return fail(u"unterminated markup");
    auto node = std::make_unique<XmlNode>();
    node->kind = kind;
    node->value = s_.substr(i_ + skip, stop - i_ - skip);
    i_ = stop + end.size();
    parent.add(std::move(node));
    return true;
  }

  bool markup(XmlNode& parent, bool top) {
    if (at(u"<!--")) return until(u"-->", XmlNode::Kind::comment, parent, 4);
    if (at(u"<![CDATA[")) return !top ? until(u"]]>", XmlNode::Kind::cdata, parent, 9) : fail(u"misplaced CDATA");
    if (at(u"<?")) {
      i_ += 2;
      Text target = name();
      if (target.empty()) return fail(u"instruction without a target");
      skip_space();
      size_t start = i_;
      size_t stop = s_.find(u"?>", i_);
      if (stop == Text::npos) return fail(u"unterminated instruction");
      auto node = std::make_unique<XmlNode>();
      node->kind = XmlNode::Kind::instruction;
      node->name = target;
      node->value = s_.substr(start, stop - start);
      i_ = stop + 2;
      parent.add(std::move(node));
      return true;
    }
    if (at(u"<!DOCTYPE")) {
      if (!top) return fail(u"misplaced document type");
      // Kept as written, internal subset and all.
      size_t start = i_, depth = 0;
      char16_t quote = 0;
      for (i_ += 9; i_ < s_.size(); ++i_) {
        char16_t c = s_[i_];
        if (quote) {
          if (c == quote) quote = 0;
        } else if (c == u'"' || c == u'\'') {
          quote = c;
        } else if (c == u'[') {
          ++depth;
        } else if (c == u']') {
          if (depth) --depth;
        } else if (c == u'>' && depth == 0) {
          break;
        }
      }
      if (i_ >= s_.size()) return fail(u"unterminated document type");
      auto node = std::make_unique<XmlNode>();
      node->kind = XmlNode::Kind::doctype;
      node->value = s_.substr(start, ++i_ - start);
      parent.add(std::move(node));
      return true;
    }
    return element(parent);
  }

  bool element(XmlNode& parent) {
    if (++depth_ > 1000) return fail(u"elements nested too deeply");
    ++i_;
    Text tag = name();
    if (tag.empty()) return fail(u"element without a name");
    XmlNode* node = parent.add(make_element(tag));
    for (;;) {
      size_t before = i_;
      skip_space();
      if (i_ >= s_.size()) return fail(u"unterminated start tag");
      if (at(u"/>")) {
        i_ += 2;
        --depth_;
        return true;
      }
      if (s_[i_] == u'>') {
        ++i_;
        break;
      }
      if (i_ == before) return fail(u"attributes must be separated by white space");
      Text key = name();
      if (key.empty()) return fail(u"bad attribute");
      skip_space();
      if (i_ >= s_.size() || s_[i_] != u'=') return fail(u"attribute without a value");
      ++i_;
      skip_space();
      if (i_ >= s_.size() || (s_[i_] != u'"' && s_[i_] != u'\'')) return fail(u"unquoted attribute value");
      char16_t quote = s_[i_++];
      Text value;
      while (i_ < s_.size() && s_[i_] != quote) {
        char16_t c = s_[i_];
        if (c == u'<') return fail(u"\"<\" in an attribute value");
        if (c == u'&') {
          ++i_;
          Text entity;
          auto decoded = reference(entity);
          if (!decoded) return false;
          if (!entity.empty()) return fail(u"entity reference in an attribute value");
          value += *decoded;
          continue;
        }
        value.push_back(c == u'\t' || c == u'\r' || c == u'\n' ? u' ' : c);
        ++i_;
      }
      if (i_ >= s_.size()) return fail(u"unterminated attribute value");
      ++i_;
      if (node->attribute(key)) return fail(u"attribute \"" + key + u"\" given twice");
      node->attributes.emplace_back(std::move(key), std::move(value));
    }
    if (!content(*node, false)) return false;
    i_ += 2;
    if (name() != tag) return fail(u"end tag does not match <" + tag + u">");
    skip_space();
    if (i_ >= s_.size() || s_[i_] != u'>') return fail(u"unterminated end tag");
    ++i_;
    --depth_;
    return true;
  }

  const Text& s_;
  size_t i_ = 0;
  int depth_ = 0;
  bool preserve_;
};

Text escaped(TextView text, bool attribute) {
  Text out;
  out.reserve(text.size());
  for (char16_t c : text) {
    switch (c) {
      case u'&': out += u"&amp;"; break;
      case u'<': out += u"&lt;"; break;
      case u'>': out += u"&gt;"; break;
      case u'"': out += attribute ? u"&quot;" : u"\""; break;
      case u'\t': out += attribute ? u"&#9;" : u"\t"; break;
      case u'\n': out += attribute ? u"&#10;" : u"\n"; break;
      case u'\r': out += attribute ? u"&#13;" : u"\r"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

class Writer {
 public:
  explicit Writer(int format) : format_(format) {}

  void node(const XmlNode& n, int depth) {
    switch (n.kind) {
      case XmlNode::Kind::text: out += escaped(n.value, false); break;
      case XmlNode::Kind::cdata: out += u"<![CDATA[" + n.value + u"]]>"; break;
      case XmlNode::Kind::comment: out += u"<!--" + n.value + u"-->"; break;
      case XmlNode::Kind::instruction:
        out += u"<?" + n.name + (n.value.empty() ? u"" : u" ") + n.value + u"?>";
        break;
      case XmlNode::Kind::doctype: out += n.value; break;
      case XmlNode::Kind::entity: out += u"&" + n.name + u";"; break;
      case XmlNode::Kind::document:
        for (const auto& child : n.children) {
          node(*child, 0);
          out += u"\r\n";
        }
        break;
      case XmlNode::Kind::element: element(n, depth); break;
    }
  }

  Text out;

 private:
  void indent(int depth) {
    out += u"\r\n";
    for (int k = 0; k < depth; ++k) out += format_ == 1 ? Text(u"\t") : Text(static_cast<size_t>(format_), u' ');
  }

  void element(const XmlNode& n, int depth) {
    out += u"<" + n.name;
    for (const auto& [key, value] : n.attributes) out += u" " + key + u"=\"" + escaped(value, true) + u"\"";
    if (n.children.empty()) {
      out += u"/>";
      return;
    }
    out += u">";
    // Only element-only content is laid out; text keeps its exact place.
    bool layout = format_ > 0 && std::none_of(n.children.begin(), n.children.end(), [](const auto& child) {
      return child->kind == XmlNode::Kind::text || child->kind == XmlNode::Kind::cdata ||
             child->kind == XmlNode::Kind::entity;
    });
    for (const auto& child : n.children) {
      if (layout) indent(depth + 1);
      node(*child, depth + 1);
    }
    if (layout) indent(depth);
    out += u"</" + n.name + u">";
  }

  int format_;
};

std::string encode(const Text& text, Encoding encoding, bool bom) {
  std::string bytes;
  switch (encoding) {
    case Encoding::utf8:
      return (bom ? std::string("\xEF\xBB\xBF") : std::string()) + to_utf8(text);
    case Encoding::utf16le:
    case Encoding::utf16be: {
      bool big = encoding == Encoding::utf16be;
      bytes = big ? "\xFE\xFF" : "\xFF\xFE";
      for (char16_t c : text) {
        char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
        bytes.push_back(big ? high : low);
        bytes.push_back(big ? low : high);
      }
      return bytes;
    }
    default:
      break;
  }
  // Single-byte encodings: what they cannot hold becomes a character
  // reference (only possible in text and attribute values, which is where
  // such characters come from).
  char16_t limit = encoding == Encoding::ascii ? 0x80 : 0x100;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (encoding == Encoding::windows1252) {
      auto found = std::find(kWindows1252.begin(), kWindows1252.end(), c);
      if (found != kWindows1252.end() && (c < 0x80 || c >= 0xA0)) {
        bytes.push_back(static_cast<char>(0x80 + (found - kWindows1252.begin())));
        continue;
      }
      if (c >= 0x80 && c < 0xA0) c = 0xFFFF;  // not a character of this encoding
    }
    if (c < limit) {
      bytes.push_back(static_cast<char>(c));
      continue;
    }
    uint32_t code = text[i];
    if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size()) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    bytes += "&#" + std::to_string(code) + ";";
  }
  return bytes;
}

}  // namespace

std::optional<XmlDocument> XmlDocument::parse(std::string_view bytes, bool preserve_white_space, Text* error) {
  Encoding encoding = Encoding::utf8;
  bool bom = false;
  auto text = decode(bytes, encoding, bom, error);
  if (!text) return std::nullopt;
  XmlDocument document;
  Parser parser(*text, preserve_white_space);
  if (!parser.run(document.root())) {
    if (error) *error = parser.error;
    return std::nullopt;
  }
  return document;
}

std::string XmlDocument::save(int format) const {
  Writer writer(format < 0 ? 0 : format);
  writer.node(*root_, 0);
  Encoding encoding = Encoding::utf8;
  for (const auto& child : root_->children)
    if (child->kind == XmlNode::Kind::instruction && child->name == u"xml") {
      auto named = encoding_named(pseudo_attribute(child->value, u"encoding"));
      if (named) encoding = *named;
    }
  return encode(writer.out, encoding, false);
}

}  // namespace kyt
