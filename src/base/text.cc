#include "base/text.h"

#include <limits>

namespace kyt {

Text from_utf8(std::string_view bytes) {
  Text out;
  out.reserve(bytes.size());
  size_t i = 0;
  const size_t n = bytes.size();
  auto byte = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
  while (i < n) {
    unsigned char b = byte(i);
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int extra = 0;
    uint32_t cp = 0, min = 0;
    if ((b & 0xE0) == 0xC0) { extra = 1; cp = b & 0x1F; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { extra = 2; cp = b & 0x0F; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { extra = 3; cp = b & 0x07; min = 0x10000; }
    else { out.push_back(0xFFFD); ++i; continue; }
    size_t k = 1;
    for (; k <= static_cast<size_t>(extra); ++k) {
      if (i + k >= n || (byte(i + k) & 0xC0) != 0x80) break;
      cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (k <= static_cast<size_t>(extra) || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(0xFFFD);
      i += k;  // skip the lead byte and the continuation bytes we accepted
      continue;
    }
    i += k;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string to_utf8(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // an unpaired surrogate cannot be written as UTF-8
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

Text ascii(std::string_view text) { return Text(text.begin(), text.end()); }

char16_t to_lower(char16_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x130) return u'i';
    if (c == 0x178) return 0xFF;
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c + 1 : c;
    if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? c : c + 1;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) return (c & 1) ? c : c + 1;
  if (c >= 0x531 && c <= 0x556) return c + 48;
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 32;
  return c;
}

char16_t to_upper(char16_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    if (c == 0x131) return u'I';
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : c - 1;
    if (c == 0x130 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    return (c & 1) ? c - 1 : c;
  }
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) return (c & 1) ? c - 1 : c;
  if (c >= 0x561 && c <= 0x586) return c - 48;
  if (c >= 0xFF41 && c <= 0xFF5A) return c - 32;
  return c;
}

Text to_lower(TextView text) {
  Text out(text);
  for (auto& c : out) c = to_lower(c);
  return out;
}

Text to_upper(TextView text) {
  Text out(text);
  for (auto& c : out) c = to_upper(c);
  return out;
}

bool equals_ignore_case(TextView a, TextView b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i] && to_lower(a[i]) != to_lower(b[i])) return false;
  return true;
}

size_t find_ignore_case(TextView haystack, TextView needle, size_t from) {
  if (needle.empty()) return from <= haystack.size() ? from : Text::npos;
  if (haystack.size() < needle.size()) return Text::npos;
  for (size_t i = from; i + needle.size() <= haystack.size(); ++i)
    if (equals_ignore_case(haystack.substr(i, needle.size()), needle)) return i;
  return Text::npos;
}

bool starts_with_ignore_case(TextView text, TextView prefix) {
  return text.size() >= prefix.size() && equals_ignore_case(text.substr(0, prefix.size()), prefix);
}

bool is_true(TextView text) { return text == u"-1" || equals_ignore_case(text, u"TRUE"); }

Text escape_line_breaks(TextView text) { return replace_all(text, u"\r\n", u"$NEWLINE$"); }
Text unescape_line_breaks(TextView text) { return replace_all_ignore_case(text, u"$NEWLINE$", u"\r\n"); }

Text replace_all(TextView text, TextView from, TextView to) {
  if (from.empty()) return Text(text);
  Text out;
  size_t start = 0;
  for (size_t p; (p = text.find(from, start)) != TextView::npos; start = p + from.size()) {
    out.append(text.substr(start, p - start));
    out.append(to);
  }
  out.append(text.substr(start));
  return out;
}

Text replace_all_ignore_case(TextView text, TextView from, TextView to) {
  if (from.empty()) return Text(text);
  Text out;
  size_t start = 0;
  for (size_t p; (p = find_ignore_case(text, from, start)) != Text::npos; start = p + from.size()) {
    out.append(text.substr(start, p - start));
    out.append(to);
  }
  out.append(text.substr(start));
  return out;
}

std::optional<int64_t> parse_int64(TextView text) {
  size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i == text.size()) return std::nullopt;
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1 : uint64_t(std::numeric_limits<int64_t>::max());
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c < u'0' || c > u'9') return std::nullopt;
    uint64_t digit = c - u'0';
    if (magnitude > (limit - digit) / 10) return std::nullopt;
    magnitude = magnitude * 10 + digit;
  }
  return negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
}

std::optional<int32_t> parse_int32(TextView text) {
  auto value = parse_int64(text);
  if (!value || *value < std::numeric_limits<int32_t>::min() || *value > std::numeric_limits<int32_t>::max())
    return std::nullopt;
  return static_cast<int32_t>(*value);
}

int64_t leading_integer(TextView text) {
  size_t end = 0;
  if (end < text.size() && (text[end] == u'-' || text[end] == u'+')) ++end;
  while (end < text.size() && text[end] >= u'0' && text[end] <= u'9' && end < 20) ++end;
  return parse_int64(text.substr(0, end)).value_or(0);
}

Text decimal(int64_t value) { return ascii(std::to_string(value)); }

Text collapse_backslashes(TextView path) {
  // One left-to-right pass: each pair becomes one backslash, so three in a row
  // become two, as a plain search-and-replace of the pair would leave them.
  if (path.starts_with(u"\\\\")) return u"\\\\" + replace_all(path.substr(2), u"\\\\", u"\\");
  return replace_all(path, u"\\\\", u"\\");
}

Text folder_of(TextView path) {
  size_t slash = path.find_last_of(u"\\/");
  return slash == TextView::npos ? Text() : Text(path.substr(0, slash + 1));
}

Text file_name_of(TextView path) {
  size_t slash = path.find_last_of(u"\\/");
  return Text(slash == TextView::npos ? path : path.substr(slash + 1));
}

Text with_backslash(TextView folder) {
  Text out(folder);
  if (!out.empty() && out.back() != u'\\') out.push_back(u'\\');
  return out;
}

std::pair<Text, Text> split_at_bar(TextView text) {
  size_t bar = text.find(u'|');
  if (bar == TextView::npos) return {Text(text), Text()};
  return {Text(text.substr(0, bar)), Text(text.substr(bar + 1))};
}

bool wildcard_match(TextView pattern, TextView name) {
  // Greedy matching with one back-tracking point: the last "*" seen.
  size_t p = 0, n = 0, star = TextView::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && (pattern[p] == u'?' || to_upper(pattern[p]) == to_upper(name[n]))) {
      ++p, ++n;
    } else if (star != TextView::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace kyt
