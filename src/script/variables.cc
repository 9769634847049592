#include "script/variables.h"

#include "base/comma_text.h"

namespace kyt {

void TVariableManager::define(TextView name, TextView value) {
  if (name.empty()) return;
  std::lock_guard lock(mutex_);
  table_.set(Text(name), Text(value));
}

bool TVariableManager::is_defined(TextView name) const {
  ReadLock lock(*this);
  return table_.contains(name);
}

Text TVariableManager::get(TextView name, bool* found) const {
  ReadLock lock(*this);
  Text value;
  bool present = table_.find(name, &value);
  if (found) *found = present;
  return value;
}

void TVariableManager::undefine(TextView name) {
  std::lock_guard lock(mutex_);
  table_.remove(name);
}

void TVariableManager::clear() {
  std::lock_guard lock(mutex_);
  table_.clear();
}

size_t TVariableManager::list_pairs(StringList& out) const {
  ReadLock lock(*this);
  out.clear();
  TStringHashTable::TPairEnumerator pairs(table_);
  while (pairs.move_next()) {
    out.add(pairs.key());
    out.add(pairs.value());
  }
  return out.size() / 2;
}

size_t TVariableManager::list_names(StringList& out) const {
  ReadLock lock(*this);
  out.clear();
  TStringHashTable::TPairEnumerator pairs(table_);
  while (pairs.move_next()) out.add(pairs.key());
  return out.size();
}

int32_t TVariableManager::bucket_count() const {
  ReadLock lock(*this);
  return table_.bucket_count();
}

int64_t TVariableManager::count() const {
  ReadLock lock(*this);
  return table_.count();
}

// Expansion scans left to right and re-scans every inserted value, so
// references inside values expand in turn. A reference met inside the value
// of the same variable (directly or through others) would expand without end;
// it is left as written. Each inserted value is tracked as a region with the
// name it came from; regions nest, so they form a stack. A budget bounds the
// total work for values that grow exponentially without repeating a name.
Text TVariableManager::expand_text(TextView text, bool quoted) const {
  Text result(text);
  if (result.find(u'$') == Text::npos) return result;
  struct Region {
    size_t end;  // one past the inserted value
    Text name;
  };
  std::vector<Region> regions;
  constexpr size_t kMaxLength = size_t(1) << 24;
  size_t replacements_left = 100000;
  size_t p = 0;
  Text value;
  while (true) {
    size_t a = result.find(u'$', p);
    if (a == Text::npos) break;
    p = a;
    while (!regions.empty() && regions.back().end <= a) regions.pop_back();
    size_t close = result.find(u'$', a + 1);
    TextView name = close == Text::npos ? TextView(result).substr(a + 1, 0)
                                        : TextView(result).substr(a + 1, close - a - 1);
    bool recursive = false;
    for (const auto& region : regions)
      if (equals_ignore_case(region.name, name)) recursive = true;
    bool found = false;
    if (close != Text::npos && !name.empty() && !recursive && replacements_left > 0) {
      value = get(name, &found);
    }
    if (!found) {
      p = a + name.size() + 1;
      continue;
    }
    if (quoted) value = u"\"" + value + u"\"";
    size_t replaced = name.size() + 2;
    if (result.size() - replaced + value.size() > kMaxLength) {
      p = a + name.size() + 1;
      continue;
    }
    Text region_name(name);
    result.replace(a, replaced, value);
    for (auto& region : regions) region.end = region.end - replaced + value.size();
    regions.push_back({a + value.size(), std::move(region_name)});
    --replacements_left;
  }
  return result;
}

void Variables::set_command_line_names(std::vector<Text> upper_case_names) {
  command_line_names_.clear();
  for (auto& name : upper_case_names) command_line_names_.insert(std::move(name));
}

namespace {
bool is_own_reference(TextView name, TextView value) {
  return value.size() == name.size() + 2 && value.front() == u'$' && value.back() == u'$' &&
         equals_ignore_case(value.substr(1, name.size()), name);
}
}  // namespace

void Variables::define_variable(TextView name, TextView value, TextView source) {
  if (name.empty()) return;
  if (store_.is_defined(name)) return set_variable(name, value, source);
  store_.define(name, is_own_reference(name, value) ? TextView() : value);
}

void Variables::set_variable(TextView name, TextView value, TextView source) {
  if (name.empty()) return;
  if (silent_ && !command_line_names_.empty() && source != kSourceCommandLine && command_line_names_.contains(name))
    return;
  // Defined or not, the variable ends up holding the value: one add-or-replace.
  store_.set(name, is_own_reference(name, value) ? TextView() : value);
}

void Variables::store_result(TextView name, TextView value, TextView source) {
  Text upper = to_upper(name);
  if (!store_.is_defined(upper)) define_variable(upper, u"", source);
  set_variable(upper, value, source);
}

Text Variables::referenced_value(TextView text) const { return expand(value_of(variable_name(text))); }

Text Variables::snapshot() const {
  StringList pairs;
  store_.list_pairs(pairs);
  return to_comma_text(pairs.items());
}

Text reference_name(TextView text) {
  if (text.size() < 2 || text.front() != u'$') return {};
  size_t next = text.find(u'$', 1);
  if (next != text.size() - 1) return {};
  return Text(text.substr(1, text.size() - 2));
}

Text variable_name(TextView parameter) {
  Text name = reference_name(parameter);
  return name.empty() ? Text(parameter) : name;
}

}  // namespace kyt
