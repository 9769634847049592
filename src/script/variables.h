// The process-wide store of named text variables, the define/set rules every
// command follows, and $NAME$ expansion.
#pragma once

#include <mutex>
#include <unordered_set>
#include <vector>

#include "base/string_list.h"
#include "script/hash_table.h"

namespace kyt {

// Names are case-insensitive; reads are locked too when `lock_reads` is set,
// because worker threads write progress while the main thread reads.
class TVariableManager {
 public:
  explicit TVariableManager(bool case_sensitive = false, bool lock_reads = true)
      : table_(case_sensitive, 2.0, 0), lock_reads_(lock_reads) {}

  void define(TextView name, TextView value);
  bool is_defined(TextView name) const;
  // Value, or empty when undefined; `found` tells the two apart.
  Text get(TextView name, bool* found = nullptr) const;
  void set(TextView name, TextView value) { define(name, value); }
  void undefine(TextView name);
  void clear();
  size_t list_pairs(StringList& out) const;
  size_t list_names(StringList& out) const;
  Text expand(TextView text) const { return expand_text(text, false); }
  Text expand_quoted(TextView text) const { return expand_text(text, true); }

  int32_t bucket_count() const;
  int64_t count() const;

 private:
  Text expand_text(TextView text, bool quoted) const;
  struct ReadLock {
    const TVariableManager& store;
    explicit ReadLock(const TVariableManager& s) : store(s) { if (store.lock_reads_) store.mutex_.lock(); }
    ~ReadLock() { if (store.lock_reads_) store.mutex_.unlock(); }
  };

  mutable std::recursive_mutex mutex_;
  TStringHashTable table_;
  bool lock_reads_;
};

// Well-known sources of a change.
inline constexpr TextView kSourceCommandLine = u"Inject Override Command Line";
inline constexpr TextView kSourceCompilation = u"Compilation";

// The engine-level rules on top of the store: the only way commands change
// variables.
class Variables {
 public:
  TVariableManager& store() { return store_; }
  const TVariableManager& store() const { return store_; }

  // Silent runs keep the values given on the command line.
  void set_silent(bool silent) { silent_ = silent; }
  bool silent() const { return silent_; }
  void set_command_line_names(std::vector<Text> upper_case_names);

  void define_variable(TextView name, TextView value, TextView source);
  void set_variable(TextView name, TextView value, TextView source);
  // Defines the variable empty when it is undefined, then sets it: how
  // handlers store results.
  void store_result(TextView name, TextView value, TextView source);
  Text value_of(TextView name) const { return store_.get(name); }
  bool is_defined(TextView name) const { return store_.is_defined(name); }
  void remove_when_defined(TextView name) { store_.undefine(name); }
  void remove_all() { store_.clear(); }
  Text expand(TextView text) const { return store_.expand(text); }
  Text expand_quoted(TextView text) const { return store_.expand_quoted(text); }
  // The value of the variable named NAME or $NAME$, expanded.
  Text referenced_value(TextView text) const;
  // All pairs as one comma-text of alternating names and values.
  Text snapshot() const;

 private:
  TVariableManager store_;
  bool silent_ = false;
  std::unordered_set<Text, FoldedHash, FoldedEqual> command_line_names_;
};

// NAME from a text "$NAME$" (a "$" first and the next "$" last), else empty.
Text reference_name(TextView text);
// The variable a parameter names: its reference name when it has one, else
// the text as written.
Text variable_name(TextView parameter);

}  // namespace kyt
