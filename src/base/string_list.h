// Ordered list of texts that keeps duplicates, with an optional
// case-insensitive hash index for position lookup by value.
#pragma once

#include <unordered_map>
#include <vector>

#include "base/text.h"

namespace kyt {

// Hash of a text with case folded, so that equal-ignoring-case texts collide.
struct FoldedHash {
  using is_transparent = void;
  size_t operator()(TextView text) const noexcept;
};
struct FoldedEqual {
  using is_transparent = void;
  bool operator()(TextView a, TextView b) const noexcept { return equals_ignore_case(a, b); }
};

class StringList {
 public:
  StringList() = default;
  explicit StringList(bool hashed) : hashed_(hashed) {}
  StringList(std::initializer_list<Text> items) : items_(items) {}

  void set_hashed(bool hashed);
  bool hashed() const { return hashed_; }

  size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const Text& operator[](size_t i) const { return items_[i]; }
  // The item at i, or empty when i is outside the list.
  Text at_or_empty(size_t i) const { return i < items_.size() ? items_[i] : Text(); }
  const std::vector<Text>& items() const { return items_; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

  void add(Text item);
  void insert(size_t position, Text item);
  void set(size_t i, Text item);
  void erase(size_t i);
  void clear();

  // First position whose item equals `value` ignoring case, or npos. Constant
  // time on a hashed list, a linear scan otherwise.
  size_t index_of(TextView value) const;
  bool contains(TextView value) const { return index_of(value) != npos; }

  static constexpr size_t npos = static_cast<size_t>(-1);

  bool operator==(const StringList& other) const { return items_ == other.items_; }

 private:
  void invalidate() { index_valid_ = false; }
  void rebuild_index() const;

  std::vector<Text> items_;
  bool hashed_ = false;
  mutable bool index_valid_ = false;
  mutable std::unordered_map<Text, size_t, FoldedHash, FoldedEqual> index_;
};

}  // namespace kyt
