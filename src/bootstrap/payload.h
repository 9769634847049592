// The setup payload: the script and everything that describes the product,
// carried as UTF-8 text behind the engine's image.
//
// Grammar (lines end with CR LF; a leading U+FEFF is skipped):
//   payload  := section{14} trailing-bytes
//   section  := fixed-line* list-line* "$"
//   sections := 0 names | 1 ids | 2 parameter blocks | 3 flags
//             | 4 guid title plugins | 5 publisher contact help update comments version info-pairs
//             | 6 media folders | 7 media-mode size-pairs | 8 cache-guid file-triples
//             | 9 language-flag default-language header-pairs | 10 setting-pairs
//             | 11 code-page source-map | 12 total header-file-table | 13 include-map
// In section 2 a line "$DOLLAR$" or "$WILD_DOLLAR$" (any case) stands for "$".
// Bytes after the fourteenth terminator (a certificate table) are ignored.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/string_list.h"

namespace kyt {

// The parameter blocks of every loaded payload; a lookup searches them in
// order and the first one holding the identifier wins.
class ParameterStore {
 public:
  void append(StringList block);
  // Line k after the identifier (k = 0 gives the identifier itself); empty
  // when no block holds the identifier or the line does not exist.
  Text get(TextView identifier, size_t k) const;
  // Where a command's parameters begin, for callers that read many of them.
  struct Position {
    const StringList* block = nullptr;
    size_t index = 0;
  };
  Position find(TextView identifier) const;
  size_t block_count() const { return blocks_.size(); }
  const StringList& block(size_t i) const { return blocks_[i]; }
  void clear() { blocks_.clear(); }

 private:
  std::vector<StringList> blocks_;
};

struct Payload {
  StringList command_names{true};
  StringList command_ids{true};
  ParameterStore parameters;
  StringList command_flags{true};
  Text project_guid;
  Text product_title;
  StringList plugin_commands;
  Text publisher, contact, help_link, update_info_link, comments, product_version;
  StringList project_info;
  StringList media_folders{true};
  int64_t media_mode = 0;
  StringList size_table;
  Text cache_folder_guid;
  StringList file_table;
  bool language_dialog = false;
  Text default_language;
  StringList command_headers{true};
  StringList build_settings{true};
  int64_t code_page = 0;
  StringList source_map{true};
  int64_t total_transfer_size = 0;
  StringList header_file_table{true};
  StringList include_map{true};

  size_t command_count() const { return command_names.size(); }
  bool disabled(size_t index) const { return command_flags.at_or_empty(index) == u"C"; }
  // The command's header, empty when the index is not listed.
  Text command_header(size_t index) const;
  // "#KEY#" markers replaced by build settings.
  Text expand_build_settings(TextView text) const;
  Text build_setting(TextView key) const { return expand_build_settings(u"#" + Text(key) + u"#"); }
  // Script name without folder and extension, and the 1-based line.
  struct SourcePosition {
    Text script;
    int64_t line = 0;
  };
  SourcePosition source_position(size_t index) const;
  // Include depth and result-variable name of a command.
  struct IncludeEntry {
    Text result_variable;
    int64_t depth = 0;
  };
  IncludeEntry include_entry(size_t index) const;
  // A value of the project information list, unscrambled.
  std::optional<Text> project_info_value(TextView key) const;
};

enum class PayloadStatus { ok, missing, damaged };

// Reads a payload from its bytes. A payload that ends before its last
// terminator is damaged; the caller reports it like a missing one.
PayloadStatus parse_payload(std::string_view bytes, Payload& payload);

// Writes the payload text (UTF-8 with byte-order mark). Fails with a message
// when a value cannot be carried by the format: a line break in any value,
// "$" as a whole list line outside the parameter blocks, or a parameter line
// that reads back as "$" without being "$".
bool write_payload(const Payload& payload, std::string& out, std::string& error);

// The scrambled form of project information values, both ways.
Text scramble(TextView plain);
Text unscramble(TextView scrambled);

}  // namespace kyt
