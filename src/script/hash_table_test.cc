#include "script/hash_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kyt {
namespace {

Text key_for(int i) { return u"NAME_" + decimal(i); }

std::vector<std::pair<Text, Text>> pairs_of(const TStringHashTable& table) {
  std::vector<std::pair<Text, Text>> pairs;
  TStringHashTable::TPairEnumerator enumerator(table);
  while (enumerator.move_next()) pairs.emplace_back(enumerator.key(), enumerator.value());
  return pairs;
}

std::vector<Text> keys_of(const TStringHashTable& table) {
  std::vector<Text> keys;
  for (auto& [key, value] : pairs_of(table)) keys.push_back(key);
  return keys;
}

template <typename Exception, typename Action>
void expect_error(Action action, const std::string& message) {
  try {
    action();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const Exception& error) {
    EXPECT_EQ(std::string(error.what()), message);
  }
}

TEST(ElfHash, HandComputedValues) {
  EXPECT_EQ(elf_hash(u"", false), 0u);
  EXPECT_EQ(elf_hash(u"ab", false), 0x672u);
  EXPECT_EQ(elf_hash(u"AB", false), 0x452u);
  EXPECT_EQ(elf_hash(u"AB", true), 0x672u);
  // Nine and more characters push bits into the top nibble, which folds back.
  EXPECT_EQ(elf_hash(u"TARGETDIR", false), 0x6BAD082u);
  EXPECT_EQ(elf_hash(u"TARGETDIR", true), 0x8DCD182u);
  EXPECT_EQ(elf_hash(u"targetdir", false), 0x8DCD182u);
  EXPECT_EQ(elf_hash(u"ABCDEFGHIJ", false), 0x89EEAAAu);
  EXPECT_EQ(elf_hash(u"ZEKO_IsCancelled", true), 0x1F4C7D4u);
  // UTF-16 code units, not bytes: U+0101 adds 0x101.
  EXPECT_EQ(elf_hash(u"\u0101", false), 0x101u);
}

TEST(HashTable, StartsEmptyAndGrowsAt32And64Buckets) {
  TStringHashTable table;  // the variable store's settings: load factor 2, capacity 0
  EXPECT_EQ(table.bucket_count(), 0);
  EXPECT_EQ(table.growth_threshold(), 0);

  table.set(key_for(0), u"v");
  EXPECT_EQ(table.bucket_count(), 32);
  EXPECT_EQ(table.growth_threshold(), 64);

  for (int i = 1; i < 64; ++i) table.set(key_for(i), u"v");
  EXPECT_EQ(table.count(), 64);
  EXPECT_EQ(table.bucket_count(), 32);

  table.set(key_for(64), u"v");  // the 65th name finds the count at the threshold
  EXPECT_EQ(table.count(), 65);
  EXPECT_EQ(table.bucket_count(), 64);
  EXPECT_EQ(table.growth_threshold(), 128);

  for (int i = 65; i < 128; ++i) table.set(key_for(i), u"v");
  EXPECT_EQ(table.bucket_count(), 64);
  table.set(key_for(128), u"v");
  EXPECT_EQ(table.bucket_count(), 128);
}

TEST(HashTable, ReplacingAtTheThresholdGrowsButKeepsTheCount) {
  // The threshold is tested before the key is looked up.
  TStringHashTable table;
  for (int i = 0; i < 64; ++i) table.set(key_for(i), u"old");
  ASSERT_EQ(table.bucket_count(), 32);
  table.set(key_for(7), u"new");
  EXPECT_EQ(table.bucket_count(), 64);
  EXPECT_EQ(table.count(), 64);
  Text value;
  ASSERT_TRUE(table.find(key_for(7), &value));
  EXPECT_EQ(value, u"new");
}

TEST(HashTable, EnumerationAfterGrowthReturnsEveryPairOnce) {
  TStringHashTable table;
  for (int i = 0; i < 300; ++i) table.set(key_for(i), decimal(i * 7));
  for (int i = 0; i < 300; i += 3) table.set(key_for(i), decimal(-i));  // replaced, not added
  ASSERT_EQ(table.bucket_count(), 256);
  std::map<Text, Text> seen;
  for (auto& [key, value] : pairs_of(table)) EXPECT_TRUE(seen.emplace(key, value).second) << to_utf8(key);
  ASSERT_EQ(seen.size(), 300u);
  for (int i = 0; i < 300; ++i) EXPECT_EQ(seen[key_for(i)], decimal(i % 3 == 0 ? -i : i * 7));
}

TEST(HashTable, EnumeratesInBucketOrderNewestFirstWithinABucket) {
  // Single characters hash to their own code: "!" (33), "a" (97), U+00A1 (161)
  // and U+00E1 (225) all fall into bucket 1 of 32 and bucket 33 of 64; "b"
  // (98) falls into bucket 2 of 32.
  TStringHashTable table;
  for (TextView key : {u"!", u"b", u"a", u"\u00A1", u"\u00E1"}) table.set(Text(key), u"");
  EXPECT_EQ(keys_of(table), (std::vector<Text>{u"\u00E1", u"\u00A1", u"a", u"!", u"b"}));

  // Growth walks each old chain from its head and pushes every node onto the
  // head of its new chain, which reverses the chain.
  for (int i = 0; table.count() < 65; ++i) table.set(key_for(i), u"");
  ASSERT_EQ(table.bucket_count(), 64);
  std::vector<Text> chain;
  for (const Text& key : keys_of(table))
    if (key.size() == 1 && key != u"b") chain.push_back(key);
  EXPECT_EQ(chain, (std::vector<Text>{u"!", u"a", u"\u00A1", u"\u00E1"}));
}

TEST(HashTable, CaseInsensitiveLookup) {
  TStringHashTable table;
  table.set(u"TargetDir", u"C:\\App");
  table.set(u"\u00C4PFEL", u"fruit");
  Text value;
  for (TextView key : {u"TARGETDIR", u"targetdir", u"TargetDir"}) {
    EXPECT_TRUE(table.find(key, &value)) << to_utf8(key);
    EXPECT_EQ(value, u"C:\\App");
  }
  EXPECT_TRUE(table.contains(u"\u00E4pfel"));
  table.set(u"TARGETDIR", u"D:\\Other");  // same variable, another spelling
  EXPECT_EQ(table.count(), 2);
  EXPECT_EQ(keys_of(table).size(), 2u);
  ASSERT_TRUE(table.find(u"targetdir", &value));
  EXPECT_EQ(value, u"D:\\Other");
  EXPECT_TRUE(table.remove(u"tArGeTdIr"));
  EXPECT_FALSE(table.contains(u"TargetDir"));
}

TEST(HashTable, CaseSensitiveTableKeepsSpellingsApart) {
  TStringHashTable table(true);
  table.set(u"Name", u"1");
  table.set(u"NAME", u"2");
  EXPECT_EQ(table.count(), 2);
  Text value;
  ASSERT_TRUE(table.find(u"NAME", &value));
  EXPECT_EQ(value, u"2");
  EXPECT_FALSE(table.contains(u"name"));
}

TEST(HashTable, FindRemoveAndClear) {
  TStringHashTable table;
  EXPECT_FALSE(table.contains(u"x"));  // no buckets yet
  EXPECT_FALSE(table.remove(u"x"));
  for (int i = 0; i < 100; ++i) table.set(key_for(i), decimal(i));
  EXPECT_TRUE(table.remove(key_for(50)));
  EXPECT_FALSE(table.remove(key_for(50)));
  EXPECT_EQ(table.count(), 99);
  EXPECT_FALSE(table.contains(key_for(50)));
  Text value;
  ASSERT_TRUE(table.find(key_for(51), &value));
  EXPECT_EQ(value, u"51");
  // An empty value is a value.
  table.set(u"EMPTY", u"");
  EXPECT_TRUE(table.find(u"EMPTY", &value));
  EXPECT_EQ(value, u"");

  table.clear();
  EXPECT_EQ(table.count(), 0);
  EXPECT_EQ(table.bucket_count(), 0);  // back to the initial capacity
  EXPECT_EQ(table.growth_threshold(), 0);
  EXPECT_FALSE(table.contains(key_for(51)));
  table.set(u"again", u"1");
  EXPECT_EQ(table.bucket_count(), 32);
}

TEST(HashTable, ModifyingDuringEnumerationIsRefused) {
  TStringHashTable table;
  table.set(u"a", u"1");
  table.set(u"b", u"2");
  const std::string message = "Can not modify a collection while iterating";
  {
    TStringHashTable::TPairEnumerator enumerator(table);
    ASSERT_TRUE(enumerator.move_next());
    EXPECT_TRUE(table.enumerating());
    expect_error<ENotSupportedException>([&] { table.set(u"c", u"3"); }, message);
    expect_error<ENotSupportedException>([&] { table.set(u"a", u"changed"); }, message);
    expect_error<ENotSupportedException>([&] { table.remove(u"a"); }, message);
    expect_error<ENotSupportedException>([&] { table.clear(); }, message);
    // Reading is fine.
    EXPECT_TRUE(table.contains(u"b"));
  }
  EXPECT_FALSE(table.enumerating());
  EXPECT_EQ(pairs_of(table), (std::vector<std::pair<Text, Text>>{{u"a", u"1"}, {u"b", u"2"}}));
  table.set(u"c", u"3");
  EXPECT_TRUE(table.remove(u"a"));
  EXPECT_EQ(table.count(), 2);
}

TEST(HashTable, EnumeratingAnEmptyTable) {
  TStringHashTable table;
  TStringHashTable::TPairEnumerator enumerator(table);
  EXPECT_FALSE(enumerator.move_next());
  EXPECT_FALSE(enumerator.move_next());
}

TEST(HashTable, LoadFactorBounds) {
  for (double factor : {0.1, 0.5, 1.0, 2.0, 7.0}) {
    TStringHashTable table(false, factor, 32);
    EXPECT_EQ(table.load_factor(), factor);
    EXPECT_EQ(table.growth_threshold(), static_cast<int32_t>(std::lround(32 * factor)));
  }
  for (double factor : {0.0, 0.09, 7.01, -1.0, std::nan("")}) {
    expect_error<EArgumentOutOfRangeException>([&] { TStringHashTable table(false, factor, 0); },
                                               "Argument out of range");
  }
}

TEST(HashTable, LowLoadFactorGrowsEarly) {
  TStringHashTable table(false, 0.5, 0);
  for (int i = 0; i < 16; ++i) table.set(key_for(i), u"");
  EXPECT_EQ(table.bucket_count(), 32);  // threshold 16
  table.set(key_for(16), u"");
  EXPECT_EQ(table.bucket_count(), 64);
}

TEST(HashTable, FixedSize) {
  TStringHashTable empty(false, 2.0, 0);
  empty.set_fixed_size(true);
  expect_error<ENotSupportedException>([&] { empty.set(u"a", u"1"); }, "Hash table is fixed with size 0");
  EXPECT_EQ(empty.count(), 0);

  TStringHashTable small(false, 1.0, 4);
  small.set_fixed_size(true);
  for (int i = 0; i < 40; ++i) small.set(key_for(i), decimal(i));
  EXPECT_EQ(small.bucket_count(), 4);
  EXPECT_EQ(small.count(), 40);
  Text value;
  ASSERT_TRUE(small.find(key_for(39), &value));
  EXPECT_EQ(value, u"39");
}

TEST(HashTable, StreamFormatIsLengthPrefixedUtf16) {
  TStringHashTable table;
  table.set(u"A", u"");
  const std::string expected("\x01\x00\x00\x00" "A\x00" "\x00\x00\x00\x00", 10);
  EXPECT_EQ(table.save_to_stream(), expected);

  TStringHashTable one;
  one.set(u"\u20AC", u"xy");
  EXPECT_EQ(one.save_to_stream(), std::string("\x01\x00\x00\x00\xAC\x20\x02\x00\x00\x00x\x00y\x00", 14));
}

TEST(HashTable, StreamRoundTrip) {
  TStringHashTable table;
  for (int i = 0; i < 70; ++i) table.set(key_for(i), u"value " + decimal(i));
  table.set(u"EMPTY", u"");
  table.set(u"\u00C4\U0001F600", u"line\r\nbreak");
  const std::string stream = table.save_to_stream();

  TStringHashTable loaded;
  loaded.set(u"STALE", u"removed by loading");
  loaded.load_from_stream(stream);
  EXPECT_FALSE(loaded.contains(u"STALE"));
  EXPECT_EQ(loaded.count(), table.count());
  std::map<Text, Text> original, copy;
  for (auto& pair : pairs_of(table)) original.insert(pair);
  for (auto& pair : pairs_of(loaded)) copy.insert(pair);
  EXPECT_EQ(copy, original);

  TStringHashTable empty;
  empty.load_from_stream("");
  EXPECT_EQ(empty.count(), 0);
}

TEST(HashTable, DamagedStreamIsAnError) {
  TStringHashTable table;
  table.set(u"KEY", u"value");
  const std::string stream = table.save_to_stream();
  // Every cut inside the record, and a negative length.
  for (size_t length = 1; length < stream.size(); ++length) {
    TStringHashTable loaded;
    EXPECT_THROW(loaded.load_from_stream(stream.substr(0, length)), EStreamError) << length;
  }
  TStringHashTable loaded;
  EXPECT_THROW(loaded.load_from_stream(std::string("\xFF\xFF\xFF\xFF", 4)), EStreamError);
}

TEST(HashTable, FileRoundTrip) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "kyt_hash_table_file_test.bin";
  TStringHashTable table;
  table.set(u"ONE", u"1");
  table.set(u"TWO", u"2");
  table.save_to_file(path.string());
  TStringHashTable loaded;
  loaded.load_from_file(path.string());
  std::filesystem::remove(path);
  EXPECT_EQ(pairs_of(loaded).size(), 2u);
  Text value;
  ASSERT_TRUE(loaded.find(u"two", &value));
  EXPECT_EQ(value, u"2");
  EXPECT_THROW(loaded.load_from_file(path.string()), std::runtime_error);
}

TEST(HashTable, AssignCopiesPairsBetweenStringTables) {
  TStringHashTable source;
  for (int i = 0; i < 40; ++i) source.set(key_for(i), decimal(i));
  TStringHashTable target;
  target.set(u"OLD", u"gone");
  target.assign(&source);
  EXPECT_FALSE(target.contains(u"OLD"));
  EXPECT_EQ(target.count(), 40);
  Text value;
  ASSERT_TRUE(target.find(key_for(12), &value));
  EXPECT_EQ(value, u"12");
  target.assign(&target);  // assigning a table to itself changes nothing
  EXPECT_EQ(target.count(), 40);
}

TEST(HashTable, AssignAcrossKindsIsAnError) {
  TStringHashTable strings;
  TCustomHashTable plain(0, 2.0);
  expect_error<std::runtime_error>([&] { strings.assign_to(&plain); },
                                   "Cannot assign a TStringHashTable to a TCustomHashTable");
  expect_error<std::runtime_error>([&] { strings.assign_to(nullptr); }, "Cannot assign a TStringHashTable to a nil");
  expect_error<std::runtime_error>([&] { strings.assign(&plain); },
                                   "Cannot assign a TCustomHashTable to a TStringHashTable");
  expect_error<std::runtime_error>([&] { strings.assign(nullptr); }, "Cannot assign a nil to a TStringHashTable");
}

}  // namespace
}  // namespace kyt
