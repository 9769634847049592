// "Edit XML File": changes one element path of an XML file at once.
#pragma once

#include "base/text.h"
#include "system/file_system.h"

namespace kyt {

struct XmlEdit {
  Text file;
  Text encoding;       // of a new document
  int format = 0;      // 0 as it is, 1 indented with tabs, n > 1 with n spaces
  Text path;           // "root\\child\\leaf"
  Text text;           // element text; empty leaves it
  Text attributes;     // comma-text of comma-texts "name,value"
  int operation = 0;   // 0 create or change, 1 change existing, 2 add, 3 delete, 4 remove attributes
  bool all = false;
  bool preserve_white_space = false;
  bool backup = false;
};

enum class XmlEditResult { saved, unchanged, not_saved };

// Edits the file; `failure` tells why it could not be saved.
XmlEditResult edit_xml_file(FileSystem& files, const XmlEdit& edit, Text& failure);

// The first free backup name: file + ".backup. " + n.
Text xml_backup_name(FileSystem& files, const Text& file);

}  // namespace kyt
