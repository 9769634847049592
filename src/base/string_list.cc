#include "base/string_list.h"

namespace kyt {

size_t FoldedHash::operator()(TextView text) const noexcept {
  size_t h = 1469598103934665603ull;
  for (char16_t c : text) h = (h ^ to_lower(c)) * 1099511628211ull;
  return h;
}

void StringList::set_hashed(bool hashed) {
  hashed_ = hashed;
  invalidate();
  if (!hashed) index_.clear();
}

void StringList::add(Text item) {
  items_.push_back(std::move(item));
  // Appending keeps the index valid: only a new first occurrence is added.
  if (hashed_ && index_valid_) index_.try_emplace(items_.back(), items_.size() - 1);
}

void StringList::insert(size_t position, Text item) {
  items_.insert(items_.begin() + position, std::move(item));
  invalidate();
}

void StringList::set(size_t i, Text item) {
  items_[i] = std::move(item);
  invalidate();
}

void StringList::erase(size_t i) {
  items_.erase(items_.begin() + i);
  invalidate();
}

void StringList::clear() {
  items_.clear();
  index_.clear();
  invalidate();
}

void StringList::rebuild_index() const {
  index_.clear();
  index_.reserve(items_.size());
  for (size_t i = 0; i < items_.size(); ++i) index_.try_emplace(items_[i], i);
  index_valid_ = true;
}

size_t StringList::index_of(TextView value) const {
  if (hashed_) {
    if (!index_valid_) rebuild_index();
    auto it = index_.find(value);
    return it == index_.end() ? npos : it->second;
  }
  for (size_t i = 0; i < items_.size(); ++i)
    if (equals_ignore_case(items_[i], value)) return i;
  return npos;
}

}  // namespace kyt
