// Item names that are safe to create below a destination folder.
#include <algorithm>

#include "media/sevenzip/archive.h"

namespace kyt::sevenzip {
namespace {

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

// Windows opens a device for these names whatever the extension and
// trailing dots or spaces: "nul.txt", "CON .", "com1.log".
bool is_device_name(std::u16string_view element) {
  size_t dot = element.find(u'.');
  std::u16string_view stem = element.substr(0, dot);
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  std::u16string base;
  for (char16_t c : stem) base.push_back(upper(c));
  static const char16_t* const fixed[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$", u"CLOCK$"};
  for (const char16_t* name : fixed)
    if (base == name) return true;
  if (base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0)) {
    char16_t digit = base[3];
    return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' || digit == u'\u00B3';
  }
  return false;
}

// "..", and names Windows trims to "..": "...", ".. ", ". .".
bool is_parent_reference(std::u16string_view element) {
  size_t dots = size_t(std::count(element.begin(), element.end(), u'.'));
  bool only_dots_and_spaces =
      std::all_of(element.begin(), element.end(), [](char16_t c) { return c == u'.' || c == u' '; });
  return only_dots_and_spaces && dots >= 2;
}

}  // namespace

bool safe_item_name(const std::u16string& name) {
  if (name.empty() || name[0] == u'\\' || name[0] == u'/') return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' || c == u'|')
      return false;
  }
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of(u"\\/", start);
    if (end == std::u16string::npos) end = name.size();
    std::u16string_view element(name.data() + start, end - start);
    if (is_parent_reference(element) || is_device_name(element)) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace kyt::sevenzip
