#include "base/comma_text.h"

namespace kyt {

namespace {
bool needs_quotes(TextView item) {
  if (item.empty()) return true;
  for (char16_t c : item)
    if (c <= u' ' || c == u'"' || c == u',') return true;
  return false;
}
bool is_blank(char16_t c) { return c >= 1 && c <= u' '; }
}  // namespace

Text to_comma_text(const std::vector<Text>& items) {
  Text out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out.push_back(u',');
    if (!needs_quotes(items[i])) {
      out += items[i];
      continue;
    }
    out.push_back(u'"');
    for (char16_t c : items[i]) {
      if (c == u'"') out.push_back(u'"');
      out.push_back(c);
    }
    out.push_back(u'"');
  }
  return out;
}

Text to_bar_list(const std::vector<Text>& items) {
  if (items.size() == 1 && items[0].empty()) return u"\"\"";
  Text out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out.push_back(u'|');
    bool quote = false;
    for (char16_t c : items[i]) quote |= c <= u' ' || c == u'"' || c == u'|';
    if (!quote) {
      out += items[i];
      continue;
    }
    out.push_back(u'"');
    for (char16_t c : items[i]) {
      if (c == u'"') out.push_back(u'"');
      out.push_back(c);
    }
    out.push_back(u'"');
  }
  return out;
}

std::vector<Text> from_comma_text(TextView text) {
  std::vector<Text> items;
  size_t p = 0;
  const size_t n = text.size();
  while (p < n && is_blank(text[p])) ++p;
  while (p < n) {
    Text item;
    if (text[p] == u'"') {
      ++p;
      while (p < n) {
        if (text[p] == u'"') {
          if (p + 1 < n && text[p + 1] == u'"') {
            item.push_back(u'"');
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        item.push_back(text[p++]);
      }
    } else {
      size_t start = p;
      while (p < n && text[p] > u' ' && text[p] != u',') ++p;
      item.assign(text.substr(start, p - start));
    }
    items.push_back(std::move(item));
    while (p < n && is_blank(text[p])) ++p;
    if (p < n && text[p] == u',') {
      if (p + 1 == n) items.emplace_back();
      do ++p;
      while (p < n && is_blank(text[p]));
    }
  }
  return items;
}

}  // namespace kyt
