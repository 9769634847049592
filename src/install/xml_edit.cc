#include "install/xml_edit.h"

#include "base/comma_text.h"
#include "base/xml.h"

namespace kyt {

Text xml_backup_name(FileSystem& files, const Text& file) {
  for (int64_t n = 0;; ++n) {
    Text name = file + u".backup. " + decimal(n);
    if (!files.exists(name)) return name;
  }
}

namespace {

struct Attribute {
  Text name, value;
};

std::vector<Attribute> attribute_list(TextView list) {
  std::vector<Attribute> attributes;
  for (const Text& item : from_comma_text(list)) {
    std::vector<Text> pair = from_comma_text(item);
    if (pair.empty() || pair[0].empty()) continue;
    attributes.push_back({pair[0], pair.size() > 1 ? pair[1] : Text()});
  }
  return attributes;
}

// Segments of "a\\b\\c"; a colon ends a segment as it would in a path.
std::vector<Text> segments(TextView path) {
  std::vector<Text> parts;
  Text part;
  for (char16_t c : path) {
    if (c == u'\\' || c == u':') {
      if (!part.empty()) parts.push_back(std::move(part));
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  if (!part.empty()) parts.push_back(std::move(part));
  return parts;
}

class Editor {
 public:
  Editor(const XmlEdit& edit) : edit_(edit), attributes_(attribute_list(edit.attributes)) {}

  // False when the command ends without saving.
  bool run(XmlDocument& document) {
    std::vector<Text> path = segments(edit_.path);
    if (path.empty()) return false;
    int op = edit_.operation;
    XmlNode* root = document.document_element();
    if (!root || root->name != path[0]) {
      if (op == 1 || op == 3 || op == 4) return false;
      root = document.set_document_element(path[0]);
    }
    if (path.size() == 1) {
      if (op == 3) {
        document.remove_document_element();
        return true;
      }
      apply(*root);
      return true;
    }
    std::vector<XmlNode*> current{root};
    for (size_t level = 1; level < path.size(); ++level) {
      bool last = level + 1 == path.size();
      std::vector<XmlNode*> next;
      for (XmlNode* element : current) {
        std::vector<XmlNode*> matches;
        for (size_t i = element->children.size(); i-- > 0;) {
          XmlNode* child = element->children[i].get();
          if (child->kind == XmlNode::Kind::element && child->name == path[level]) matches.push_back(child);
        }
        if (last && op == 3) {
          for (XmlNode* match : matches)
            if (matching(*match)) {
              element->remove(match);
              acted_ = true;
              if (!edit_.all) break;
            }
          continue;
        }
        if (last && op == 2) {
          if (edit_.all)
            for (XmlNode* match : matches)
              if (matching(*match)) return false;
          next.push_back(element->add(make_element(path[level])));
          continue;
        }
        if (matches.empty()) {
          if (op == 0 || op == 2) next.push_back(element->add(make_element(path[level])));
          continue;
        }
        if (edit_.all)
          next.insert(next.end(), matches.begin(), matches.end());
        else
          next.push_back(matches.front());
      }
      current = std::move(next);
    }
    for (XmlNode* target : current) apply(*target);
    return acted_;
  }

 private:
  // Text and listed attributes as the parameters give them; an empty text
  // or list matches anything.
  bool matching(const XmlNode& element) const {
    if (!edit_.text.empty() && element.text() != edit_.text) return false;
    for (const Attribute& attribute : attributes_) {
      const Text* value = element.attribute(attribute.name);
      if (!value || *value != attribute.value) return false;
    }
    return true;
  }

  void apply(XmlNode& target) {
    acted_ = true;
    int op = edit_.operation;
    if (!edit_.text.empty() && op != 3 && op != 4) target.set_text(edit_.text);
    if (attributes_.empty() && op == 4) target.attributes.clear();
    for (const Attribute& attribute : attributes_) {
      if (target.attribute(attribute.name)) {
        if (op == 3 || op == 4) target.remove_attribute(attribute.name);
        else if (op == 0 || op == 1) target.set_attribute(attribute.name, attribute.value);
      } else if (op == 0 || op == 2) {
        target.set_attribute(attribute.name, attribute.value);
      }
    }
  }

  const XmlEdit& edit_;
  std::vector<Attribute> attributes_;
  bool acted_ = false;
};

}  // namespace

XmlEditResult edit_xml_file(FileSystem& files, const XmlEdit& edit, Text& failure) {
  std::optional<XmlDocument> document;
  if (files.exists(edit.file)) {
    auto bytes = files.read_file(edit.file);
    bool kept = false;
    if (edit.backup && bytes) {
      if (!files.write_file(xml_backup_name(files, edit.file), *bytes)) {
        failure = u"Unable to back up " + edit.file;
        return XmlEditResult::not_saved;
      }
      kept = true;
    }
    if (bytes) document = XmlDocument::parse(*bytes, edit.preserve_white_space);
    // A file that cannot be loaded is replaced by a new document; its
    // content is kept beside it first so that nothing is lost.
    if (!document && bytes && !kept && !files.write_file(xml_backup_name(files, edit.file), *bytes)) {
      failure = u"Unable to back up " + edit.file;
      return XmlEditResult::not_saved;
    }
  }
  if (!document) document = XmlDocument::with_declaration(edit.encoding.empty() ? Text(u"UTF-8") : edit.encoding);

  Editor editor(edit);
  if (!editor.run(*document)) return XmlEditResult::unchanged;
  std::string saved = document->save(edit.format);
  if (edit.format != 0 && !edit.preserve_white_space)
    if (auto again = XmlDocument::parse(saved, false)) saved = again->save(edit.format);
  if (!files.write_file(edit.file, saved)) {
    failure = u"Unable to save " + edit.file;
    return XmlEditResult::not_saved;
  }
  return XmlEditResult::saved;
}

}  // namespace kyt
