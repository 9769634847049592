// Line-oriented UTF-8 text: the form of the payload, the component file and
// the files the text commands read and write.
//
//   file := U+FEFF? (line (CR LF | LF | CR))* line?
//
// A leading byte-order mark is skipped; lines may end with CR LF, LF or CR.
// Writing ends every line with CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace kyt {

// Skips a leading UTF-8 byte-order mark.
std::string_view strip_utf8_bom(std::string_view bytes);
std::vector<Text> split_lines(TextView text);
std::vector<Text> read_utf8_lines(std::string_view bytes);
std::string write_utf8_lines(const std::vector<Text>& lines, bool byte_order_mark);

}  // namespace kyt
