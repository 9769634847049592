// The engine's own texts: a table of 126 numbered lines with English
// defaults, replaced block-wise by a translation file, and the table of
// language names and Windows locale identifiers.
#pragma once

#include <array>
#include <vector>

#include "base/text.h"

namespace kyt {

constexpr size_t kMessageBlockLines = 126;

// Line numbers of the messages the engine shows (1-based).
enum class Msg : int {
  common_controls = 1,
  resource_not_found = 2,
  resource_damaged = 3,
  database_not_found = 4,
  runtime_error_install = 5,
  bytes = 6,
  kilobytes = 7,
  megabytes = 8,
  runtime_error_script = 20,
  product_wizard = 23,
  preparing = 24,
  ok = 38,
  cancel = 39,
  confirm_cancel = 40,
  pending_operations = 88,
  select_language = 89,
  select_language_prompt = 90,
  setup_cancelled = 116,
};

class MessageTable {
 public:
  MessageTable();
  const Text& operator[](Msg line) const { return lines_[static_cast<size_t>(line) - 1]; }
  const Text& line(size_t number) const { return lines_.at(number - 1); }

  // Applies a translation file: its first block of 126 lines, then each
  // (language-name line, block) pair in turn, stopping after the block
  // whose name is `user_language` (ignoring case). A block cut short by the
  // end of the file replaces only the lines it has.
  void apply(const std::vector<Text>& file_lines, TextView user_language);

  // The English defaults, line 1 first.
  static const std::array<TextView, kMessageBlockLines>& english();

 private:
  void read_block(const std::vector<Text>& lines, size_t& at);
  std::array<Text, kMessageBlockLines> lines_;
};

// The caption of the engine's windows and message boxes: TITLE with the
// product suffix, the suffix's product name alone for an empty TITLE, or
// TITLE unchanged when the branding is switched off (ZEKOLOGO).
Text window_title(TextView title, bool no_logo);
constexpr TextView kTitleSuffix = u" - Quorvane Wizard";

// Windows locale identifier of a language name (ignoring case); 1033 for an
// unknown name.
int locale_of_language(TextView name);
// The language name of a locale identifier as the table writes it; empty
// for a locale outside the table.
Text language_of_locale(int locale);

}  // namespace kyt
