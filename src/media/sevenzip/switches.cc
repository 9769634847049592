// 7-Zip command-line switches, the subset the writer honours:
//   -m<i>=<method>[:<param>...]  coder i of the chain (Copy, LZMA, LZMA2,
//                                BCJ, BCJ2/x86, None clears the slot)
//   -m<i>d=<size>  -m<i>fb=<n>  -m<i>mf=<bt4|hc4>   coder parameters
//   -mx[=]<0..9>  -mhe= -mhc= -ms= -mmt=   levels and switches
//   -mb<i>[s<k>]:<j>[s<l>]       binds output k of coder i to coder j
//   -mf=<filter|off>
// A size is a power of two ("26") or a count with b/k/m/g.
// Everything else is accepted and ignored.
#include <algorithm>
#include <map>
#include <optional>
#include <thread>

#include "media/sevenzip/archive.h"

namespace kyt::sevenzip {
namespace {

std::string lower_ascii(const std::u16string& text, bool& ascii) {
  std::string out;
  ascii = true;
  for (char16_t c : text) {
    if (c > 0x7F) ascii = false;
    char a = char(c);
    out.push_back(a >= 'A' && a <= 'Z' ? char(a + 32) : a);
  }
  return out;
}

std::optional<uint64_t> parse_count(const std::string& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + uint64_t(c - '0');
  }
  return value;
}

// "26" -> 2^26; "64m" -> 64 MiB; "4096b" -> 4096.
std::optional<uint64_t> parse_size(const std::string& text, bool bare_is_power) {
  if (text.empty()) return std::nullopt;
  char suffix = text.back();
  int shift = -1;
  if (suffix == 'b') shift = 0;
  if (suffix == 'k') shift = 10;
  if (suffix == 'm') shift = 20;
  if (suffix == 'g') shift = 30;
  if (shift < 0) {
    auto n = parse_count(text);
    if (!n) return std::nullopt;
    if (!bare_is_power) return n;
    if (*n > 31) return std::nullopt;
    return uint64_t(1) << *n;
  }
  auto n = parse_count(text.substr(0, text.size() - 1));
  if (!n || *n > (uint64_t(1) << 40)) return std::nullopt;
  return *n << shift;
}

std::optional<bool> parse_on_off(const std::string& text) {
  if (text == "on" || text == "+" || text.empty()) return true;
  if (text == "off" || text == "-") return false;
  return std::nullopt;
}

struct CoderSlot {
  std::optional<std::string> method;
  std::optional<uint32_t> dictionary;
  std::optional<uint32_t> fast_bytes;
  std::optional<bool> binary_tree;
};

bool is_filter(const std::string& method) { return method == "bcj" || method == "bcj2" || method == "x86"; }

bool is_known_method(const std::string& method) {
  return method == "copy" || method == "lzma" || method == "lzma2" || is_filter(method) || method == "none";
}

// One coder parameter: "d=26", "d26", "fb=64", "mf=bt4". Unknown names are
// ignored; known ones with a bad value are an error.
bool apply_parameter(CoderSlot& slot, const std::string& text) {
  size_t split = text.find('=');
  std::string name, value;
  if (split != std::string::npos) {
    name = text.substr(0, split);
    value = text.substr(split + 1);
  } else {
    size_t digits = text.find_first_of("0123456789");
    name = text.substr(0, digits);
    value = digits == std::string::npos ? "" : text.substr(digits);
  }
  if (name == "d") {
    auto size = parse_size(value, true);
    if (!size || *size < 4096 || *size > (uint64_t(3) << 29)) return false;
    slot.dictionary = uint32_t(*size);
  } else if (name == "fb") {
    auto n = parse_count(value);
    if (!n || *n < 5 || *n > 273) return false;
    slot.fast_bytes = uint32_t(*n);
  } else if (name == "mf") {
    if (value.size() < 3) return false;
    if (value.compare(0, 2, "bt") == 0) {
      slot.binary_tree = true;
    } else if (value.compare(0, 2, "hc") == 0) {
      slot.binary_tree = false;
    } else {
      return false;
    }
  }
  return true;
}

// "<i>[s<k>]" of a binding; returns the coder index.
std::optional<int> binding_coder(const std::string& text) {
  size_t s = text.find('s');
  auto coder = parse_count(text.substr(0, s));
  if (!coder || *coder > 31) return std::nullopt;
  if (s != std::string::npos && !parse_count(text.substr(s + 1))) return std::nullopt;
  return int(*coder);
}

}  // namespace

Error parse_switches(const std::u16string& switches, WriterOptions& options) {
  std::map<int, CoderSlot> slots;
  std::map<int, int> bound_from_stream0;  // coder -> coder bound to its first output
  std::optional<int> level;
  std::optional<std::string> filter_switch;
  size_t position = 0;
  while (position < switches.size()) {
    size_t start = switches.find_first_not_of(u" \t\r\n", position);
    if (start == std::u16string::npos) break;
    size_t end = switches.find_first_of(u" \t\r\n", start);
    if (end == std::u16string::npos) end = switches.size();
    position = end;
    std::u16string token16 = switches.substr(start, end - start);
    bool ascii;
    std::string token = lower_ascii(token16, ascii);
    if (token.size() < 2 || (token[0] != '-' && token[0] != '/')) return Error::bad_switch;
    if (!ascii || token[1] != 'm') continue;  // -ssw, -p..., -v..., and the like
    std::string body = token.substr(2);
    size_t eq = body.find('=');
    std::string key = body.substr(0, eq), value = eq == std::string::npos ? "" : body.substr(eq + 1);
    if (!key.empty() && key[0] >= '0' && key[0] <= '9') {
      size_t digits = key.find_first_not_of("0123456789");
      auto index = parse_count(key.substr(0, digits));
      if (!index || *index > 31) return Error::bad_switch;
      CoderSlot& slot = slots[int(*index)];
      std::string parameter = digits == std::string::npos ? "" : key.substr(digits);
      if (parameter.empty()) {
        // -m<i>=<method>[:<param>...]
        size_t colon = value.find(':');
        std::string method = value.substr(0, colon);
        if (method.empty()) return Error::bad_switch;
        if (is_known_method(method)) slot.method = method;
        while (colon != std::string::npos) {
          size_t next = value.find(':', colon + 1);
          if (!apply_parameter(slot, value.substr(colon + 1, next - colon - 1))) return Error::bad_switch;
          colon = next;
        }
      } else if (!apply_parameter(slot, parameter + "=" + value)) {
        return Error::bad_switch;
      }
      continue;
    }
    if (key == "x" || (key.size() >= 2 && key[0] == 'x' && eq == std::string::npos)) {
      auto n = parse_count(key == "x" ? value : key.substr(1));
      if (!n || *n > 9) return Error::bad_switch;
      level = int(*n);
    } else if (key == "he" || key == "hc" || key == "s") {
      auto on = parse_on_off(value);
      if (key == "s" && !on) {
        // -ms=<size> or the e/f forms: a block size limit, else ignored.
        if (auto size = parse_size(value, false)) {
          options.solid = true;
          options.solid_block_size = *size;
        }
        continue;
      }
      if (!on) return Error::bad_switch;
      if (key == "he") options.encrypt_headers = *on;
      if (key == "hc") options.compress_headers = *on;
      if (key == "s") options.solid = *on, options.solid_block_size = 0;
    } else if (key == "mt") {
      if (auto on = parse_on_off(value)) {
        options.threads = *on ? int(std::max(1u, std::thread::hardware_concurrency())) : 1;
      } else if (auto n = parse_count(value); n && *n >= 1 && *n <= 256) {
        options.threads = int(*n);
      } else {
        return Error::bad_switch;
      }
    } else if (key == "f") {
      filter_switch = value;
    } else if (!key.empty() && key[0] == 'b') {
      size_t colon = key.find(':');
      if (colon == std::string::npos) return Error::bad_switch;
      std::string from = key.substr(1, colon - 1);
      auto from_coder = binding_coder(from);
      auto to_coder = binding_coder(key.substr(colon + 1));
      if (!from_coder || !to_coder) return Error::bad_switch;
      size_t s = from.find('s');
      if (s == std::string::npos || from.substr(s + 1) == "0") bound_from_stream0[*from_coder] = *to_coder;
    }
    // -mtc, -mtm, -mqs, -myx, ... change nothing we write.
  }

  // The chain: a filter coder (if any) and the compression coder that its
  // main output feeds (by binding, else the next method slot).
  std::optional<int> filter_index, method_index;
  for (const auto& [index, slot] : slots) {
    if (!slot.method || *slot.method == "none") continue;
    if (is_filter(*slot.method)) {
      if (!filter_index) filter_index = index;
    } else if (!method_index) {
      method_index = index;
    }
  }
  if (filter_index) {
    auto bound = bound_from_stream0.find(*filter_index);
    if (bound != bound_from_stream0.end() && slots.count(bound->second) && slots[bound->second].method &&
        !is_filter(*slots[bound->second].method) && *slots[bound->second].method != "none")
      method_index = bound->second;
  }
  if (level) {
    options.level = *level;
    options.dictionary = *level <= 5 ? 1u << (2 * *level + 14) : *level == 6 ? 1u << 25 : 1u << 26;
    options.fast_bytes = *level < 7 ? 32 : 64;
    options.binary_tree = *level >= 5;
    if (*level == 0) options.method = Method::copy;
  }
  if (filter_switch) {
    if (*filter_switch == "off" || *filter_switch == "-") {
      options.filter = Filter::none;
    } else if (*filter_switch == "bcj" || *filter_switch == "x86") {
      options.filter = Filter::bcj;
    } else if (*filter_switch == "bcj2") {
      options.filter = Filter::bcj2;
    }
  }
  if (filter_index) {
    const std::string& f = *slots[*filter_index].method;
    options.filter = f == "bcj2" ? Filter::bcj2 : Filter::bcj;
  } else if (!slots.empty() && !filter_switch) {
    bool any_method = std::any_of(slots.begin(), slots.end(), [](const auto& s) { return s.second.method.has_value(); });
    if (any_method) options.filter = Filter::none;
  }
  if (!method_index) {
    // Parameters without a method ("-mx1 -m0d=1m") refine the default one.
    for (const auto& [index, slot] : slots)
      if (!slot.method && index != filter_index.value_or(-1)) {
        method_index = index;
        break;
      }
  }
  if (method_index) {
    const CoderSlot& slot = slots[*method_index];
    if (slot.method) {
      const std::string& m = *slot.method;
      options.method = m == "copy" ? Method::copy : m == "lzma" ? Method::lzma : Method::lzma2;
    }
    if (slot.dictionary) options.dictionary = *slot.dictionary;
    if (slot.fast_bytes) options.fast_bytes = *slot.fast_bytes;
    if (slot.binary_tree) options.binary_tree = *slot.binary_tree;
  }
  return Error::none;
}

}  // namespace kyt::sevenzip
