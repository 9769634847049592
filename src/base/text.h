// The engine's one text type and the small text rules every subsystem shares.
// All text inside the engine is UTF-16; conversion happens only at the
// boundaries (files, the host operating system, the build tool's sources).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace kyt {

using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-8 <-> UTF-16. Malformed input is replaced by U+FFFD, never rejected.
Text from_utf8(std::string_view bytes);
std::string to_utf8(TextView text);
// For literals and messages built from plain ASCII.
Text ascii(std::string_view text);

// Simple (one code unit to one code unit) Unicode case mapping for the
// alphabets a setup meets: Latin, Greek, Cyrillic, Armenian and full-width
// Latin. Case-insensitive names and comparisons all go through these.
char16_t to_lower(char16_t c);
char16_t to_upper(char16_t c);
Text to_lower(TextView text);
Text to_upper(TextView text);
bool equals_ignore_case(TextView a, TextView b);
// Position of `needle` in `haystack` at or after `from`, ignoring case.
size_t find_ignore_case(TextView haystack, TextView needle, size_t from = 0);
bool starts_with_ignore_case(TextView text, TextView prefix);

// Boolean text: true is "TRUE" in any case or exactly "-1"; results are
// written "TRUE" or "FALSE".
bool is_true(TextView text);
inline Text bool_text(bool value) { return value ? u"TRUE" : u"FALSE"; }

// "$NEWLINE$" stands for CR LF inside one-line values.
Text escape_line_breaks(TextView text);
Text unescape_line_breaks(TextView text);

Text replace_all(TextView text, TextView from, TextView to);
Text replace_all_ignore_case(TextView text, TextView from, TextView to);

// Whole decimal numbers: optional blanks, an optional sign, digits, nothing
// else. Out-of-range values are not numbers.
std::optional<int32_t> parse_int32(TextView text);
std::optional<int64_t> parse_int64(TextView text);
// The decimal number at the start of a line (0 when there is none), as read
// for the integer fields of the payload.
int64_t leading_integer(TextView text);
Text decimal(int64_t value);

// Doubled backslashes collapse to one, except that a leading pair stays
// (network paths).
Text collapse_backslashes(TextView path);
// Path pieces: the folder with its trailing separator ("" without one), the
// name after it, and a folder with a trailing backslash added when missing.
Text folder_of(TextView path);
Text file_name_of(TextView path);
Text with_backslash(TextView folder);

// Whether a file name matches a pattern of "*" and "?", ignoring case.
bool wildcard_match(TextView pattern, TextView name);

// Two-part parameters are split at their first "|"; without "|" the second
// part is empty.
std::pair<Text, Text> split_at_bar(TextView text);

}  // namespace kyt
