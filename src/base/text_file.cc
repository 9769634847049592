#include "base/text_file.h"

namespace kyt {

std::string_view strip_utf8_bom(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return bytes;
}

std::vector<Text> split_lines(TextView text) {
  std::vector<Text> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

std::vector<Text> read_utf8_lines(std::string_view bytes) { return split_lines(from_utf8(strip_utf8_bom(bytes))); }

std::string write_utf8_lines(const std::vector<Text>& lines, bool byte_order_mark) {
  std::string out = byte_order_mark ? "\xEF\xBB\xBF" : "";
  for (const auto& line : lines) {
    out += to_utf8(line);
    out += "\r\n";
  }
  return out;
}

}  // namespace kyt
