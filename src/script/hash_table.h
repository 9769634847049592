// The hash table family behind the variable store: separately chained tables
// whose growth, enumeration order and errors are fixed, because scripts see
// the enumeration order (variable listings, snapshots).
//
// Stream format of TStringHashTable:
//   stream := record*
//   record := int32le key_units, key_units x uint16le, int32le value_units, value_units x uint16le
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/text.h"

namespace kyt {

class ENotSupportedException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EArgumentOutOfRangeException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A text stream that ends inside a record.
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ELF hash over UTF-16 code units, with or without folding case first.
uint32_t elf_hash(TextView key, bool fold_case);

struct HashNode {
  HashNode* next;
  uint32_t hash;
  Text key;
  Text value;
};

enum class NotifyAction { added = 0, removed = 1, replacing = 2, replaced = 3 };

class THashEnumerator;

class TCustomHashTable {
 public:
  using KeyCompare = bool (*)(TextView, TextView);

  TCustomHashTable(int32_t capacity, double load_factor);
  virtual ~TCustomHashTable();
  TCustomHashTable(const TCustomHashTable&) = delete;
  TCustomHashTable& operator=(const TCustomHashTable&) = delete;

  virtual int32_t next_capacity(int32_t current) const;
  virtual void assign_to(TCustomHashTable* target) const;
  virtual void assign(const TCustomHashTable* source);
  virtual void clear();
  virtual void load_from_file(const std::string& file_name);
  virtual void load_from_stream(std::string_view stream);
  virtual void save_to_file(const std::string& file_name) const;
  virtual std::string save_to_stream() const;
  virtual const char* class_name() const { return "TCustomHashTable"; }

  int64_t count() const { return count_; }
  int32_t bucket_count() const { return bucket_count_; }
  int32_t growth_threshold() const { return threshold_; }
  double load_factor() const { return load_factor_; }
  bool fixed_size() const { return fixed_size_; }
  void set_fixed_size(bool fixed) { fixed_size_ = fixed; }
  bool enumerating() const { return enumerators_ > 0; }

 protected:
  virtual void notify(HashNode* node, NotifyAction action) {}
  // The operations on a key whose hash the caller has computed.
  void add_or_set(Text key, uint32_t hash, Text value);
  HashNode* find_node(TextView key, uint32_t hash) const;
  bool remove_node(TextView key, uint32_t hash);
  void set_compare(KeyCompare compare) { compare_ = compare; }

 private:
  friend class THashEnumerator;
  void grow();
  void check_not_enumerating() const;
  void allocate_buckets(int32_t capacity);
  void free_nodes();

  int64_t count_ = 0;
  int32_t initial_capacity_;
  bool fixed_size_ = false;
  int enumerators_ = 0;
  double load_factor_;
  int32_t threshold_ = 0;
  std::vector<HashNode*> buckets_;
  int32_t bucket_count_ = 0;
  KeyCompare compare_ = nullptr;
};

class TCustomStringHashTable : public TCustomHashTable {
 public:
  TCustomStringHashTable(bool case_sensitive, double load_factor, int32_t capacity);
  const char* class_name() const override { return "TCustomStringHashTable"; }
  bool case_sensitive() const { return case_sensitive_; }
  uint32_t hash_key(TextView key) const { return elf_hash(key, !case_sensitive_); }

 private:
  bool case_sensitive_;
};

class THashEnumerator {
 public:
  explicit THashEnumerator(const TCustomHashTable& table);
  virtual ~THashEnumerator();
  THashEnumerator(const THashEnumerator&) = delete;
  THashEnumerator& operator=(const THashEnumerator&) = delete;
  bool move_next();

 protected:
  const HashNode* current() const { return node_; }

 private:
  const TCustomHashTable& table_;
  int32_t bucket_ = -1;
  const HashNode* node_ = nullptr;
};

class TStringHashTable : public TCustomStringHashTable {
 public:
  TStringHashTable(bool case_sensitive = false, double load_factor = 2.0, int32_t capacity = 0)
      : TCustomStringHashTable(case_sensitive, load_factor, capacity) {}
  ~TStringHashTable() override;
  const char* class_name() const override { return "TStringHashTable"; }

  void set(Text key, Text value) {
    uint32_t h = hash_key(key);
    add_or_set(std::move(key), h, std::move(value));
  }
  bool find(TextView key, Text* value) const;
  bool contains(TextView key) const { return find_node(key, hash_key(key)) != nullptr; }
  bool remove(TextView key) { return remove_node(key, hash_key(key)); }

  void assign_to(TCustomHashTable* target) const override;
  void load_from_stream(std::string_view stream) override;
  std::string save_to_stream() const override;

  class TPairEnumerator : public THashEnumerator {
   public:
    using THashEnumerator::THashEnumerator;
    const Text& key() const { return current()->key; }
    const Text& value() const { return current()->value; }
  };
};

}  // namespace kyt
