#include "script/hash_table.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kyt {

uint32_t elf_hash(TextView key, bool fold_case) {
  uint32_t h = 0;
  for (char16_t c : key) {
    h = (h << 4) + (fold_case ? to_lower(c) : c);
    uint32_t top = h & 0xF0000000u;
    if (top) h = (h & ~0xF0000000u) ^ ((h >> 28) << 4);
  }
  return h;
}

namespace {
bool compare_exact(TextView a, TextView b) { return a == b; }
bool compare_folded(TextView a, TextView b) { return equals_ignore_case(a, b); }
int32_t round_threshold(int32_t capacity, double load_factor) {
  return static_cast<int32_t>(std::lround(capacity * load_factor));
}
}  // namespace

TCustomHashTable::TCustomHashTable(int32_t capacity, double load_factor)
    : initial_capacity_(capacity), load_factor_(load_factor) {
  if (!(load_factor >= 0.1 && load_factor <= 7.0)) throw EArgumentOutOfRangeException("Argument out of range");
  if (capacity < 0) throw EArgumentOutOfRangeException("Argument out of range");
  allocate_buckets(capacity);
}

TCustomHashTable::~TCustomHashTable() { free_nodes(); }

int32_t TCustomHashTable::next_capacity(int32_t current) const { return current == 0 ? 32 : current * 2; }

void TCustomHashTable::assign_to(TCustomHashTable* target) const {
  throw std::runtime_error(std::string("Cannot assign a ") + class_name() + " to a " +
                           (target ? target->class_name() : "nil"));
}

void TCustomHashTable::assign(const TCustomHashTable* source) {
  if (!source) throw std::runtime_error(std::string("Cannot assign a nil to a ") + class_name());
  source->assign_to(this);
}

void TCustomHashTable::check_not_enumerating() const {
  if (enumerators_ > 0) throw ENotSupportedException("Can not modify a collection while iterating");
}

void TCustomHashTable::allocate_buckets(int32_t capacity) {
  buckets_.assign(static_cast<size_t>(capacity), nullptr);
  bucket_count_ = capacity;
  threshold_ = round_threshold(capacity, load_factor_);
}

void TCustomHashTable::free_nodes() {
  for (HashNode* head : buckets_) {
    while (head) {
      HashNode* next = head->next;
      notify(head, NotifyAction::removed);
      delete head;
      head = next;
    }
  }
  buckets_.clear();
  count_ = 0;
}

void TCustomHashTable::clear() {
  check_not_enumerating();
  free_nodes();
  allocate_buckets(initial_capacity_);
}

void TCustomHashTable::grow() {
  int32_t capacity = next_capacity(bucket_count_);
  if (capacity == bucket_count_) return;
  std::vector<HashNode*> fresh(static_cast<size_t>(capacity), nullptr);
  for (HashNode* head : buckets_) {
    while (head) {
      HashNode* next = head->next;
      HashNode*& slot = fresh[head->hash % static_cast<uint32_t>(capacity)];
      head->next = slot;
      slot = head;
      head = next;
    }
  }
  buckets_.swap(fresh);
  bucket_count_ = capacity;
  threshold_ = round_threshold(capacity, load_factor_);
}

void TCustomHashTable::add_or_set(Text key, uint32_t hash, Text value) {
  check_not_enumerating();
  if (count_ >= threshold_ && !fixed_size_) grow();
  if (bucket_count_ == 0) throw ENotSupportedException("Hash table is fixed with size 0");
  HashNode*& head = buckets_[hash % static_cast<uint32_t>(bucket_count_)];
  for (HashNode* node = head; node; node = node->next) {
    if (node->hash == hash && compare_(node->key, key)) {
      notify(node, NotifyAction::replacing);
      node->value = std::move(value);
      notify(node, NotifyAction::replaced);
      return;
    }
  }
  head = new HashNode{head, hash, std::move(key), std::move(value)};
  ++count_;
  notify(head, NotifyAction::added);
}

HashNode* TCustomHashTable::find_node(TextView key, uint32_t hash) const {
  if (bucket_count_ == 0) return nullptr;
  for (HashNode* node = buckets_[hash % static_cast<uint32_t>(bucket_count_)]; node; node = node->next)
    if (node->hash == hash && compare_(node->key, key)) return node;
  return nullptr;
}

bool TCustomHashTable::remove_node(TextView key, uint32_t hash) {
  check_not_enumerating();
  if (bucket_count_ == 0) return false;
  for (HashNode** link = &buckets_[hash % static_cast<uint32_t>(bucket_count_)]; *link; link = &(*link)->next) {
    HashNode* node = *link;
    if (node->hash == hash && compare_(node->key, key)) {
      *link = node->next;
      --count_;
      notify(node, NotifyAction::removed);
      delete node;
      return true;
    }
  }
  return false;
}

void TCustomHashTable::load_from_file(const std::string& file_name) {
  std::ifstream in(file_name, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot open file \"" + file_name + "\"");
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  load_from_stream(bytes);
}

void TCustomHashTable::load_from_stream(std::string_view) {}

void TCustomHashTable::save_to_file(const std::string& file_name) const {
  std::ofstream out(file_name, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("Cannot create file \"" + file_name + "\"");
  std::string bytes = save_to_stream();
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("Cannot write file \"" + file_name + "\"");
}

std::string TCustomHashTable::save_to_stream() const { return {}; }

TCustomStringHashTable::TCustomStringHashTable(bool case_sensitive, double load_factor, int32_t capacity)
    : TCustomHashTable(capacity, load_factor), case_sensitive_(case_sensitive) {
  set_compare(case_sensitive ? compare_exact : compare_folded);
}

THashEnumerator::THashEnumerator(const TCustomHashTable& table) : table_(table) {
  ++const_cast<TCustomHashTable&>(table_).enumerators_;
}

THashEnumerator::~THashEnumerator() { --const_cast<TCustomHashTable&>(table_).enumerators_; }

bool THashEnumerator::move_next() {
  if (node_) node_ = node_->next;
  while (!node_ && bucket_ + 1 < table_.bucket_count_) node_ = table_.buckets_[static_cast<size_t>(++bucket_)];
  return node_ != nullptr;
}

TStringHashTable::~TStringHashTable() = default;

bool TStringHashTable::find(TextView key, Text* value) const {
  const HashNode* node = find_node(key, hash_key(key));
  if (!node) return false;
  if (value) *value = node->value;
  return true;
}

void TStringHashTable::assign_to(TCustomHashTable* target) const {
  auto* strings = dynamic_cast<TStringHashTable*>(target);
  if (!strings) return TCustomHashTable::assign_to(target);
  if (strings == this) return;
  strings->clear();
  TPairEnumerator pairs(*this);
  while (pairs.move_next()) strings->set(pairs.key(), pairs.value());
}

namespace {
void put_text(std::string& out, TextView text) {
  auto length = static_cast<uint32_t>(text.size());
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
}
Text take_text(std::string_view& in) {
  if (in.size() < 4) throw EStreamError("Stream read error");
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) length |= uint32_t(static_cast<unsigned char>(in[i])) << (8 * i);
  in.remove_prefix(4);
  if (static_cast<int32_t>(length) < 0 || in.size() / 2 < length) throw EStreamError("Stream read error");
  Text text(length, u'\0');
  for (uint32_t i = 0; i < length; ++i)
    text[i] = static_cast<char16_t>(static_cast<unsigned char>(in[2 * i]) | (static_cast<unsigned char>(in[2 * i + 1]) << 8));
  in.remove_prefix(2 * size_t(length));
  return text;
}
}  // namespace

void TStringHashTable::load_from_stream(std::string_view stream) {
  clear();
  while (!stream.empty()) {
    Text key = take_text(stream);
    Text value = take_text(stream);
    set(std::move(key), std::move(value));
  }
}

std::string TStringHashTable::save_to_stream() const {
  std::string out;
  TPairEnumerator pairs(*this);
  while (pairs.move_next()) {
    put_text(out, pairs.key());
    put_text(out, pairs.value());
  }
  return out;
}

}  // namespace kyt
