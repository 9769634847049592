// Archives end to end: reading what the 7z command writes, writing what it
// reads, encryption, damage, deletion.
#include <gtest/gtest.h>

#include <set>

#include "media/sevenzip/test_support.h"

namespace kyt::sevenzip {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// The fixture tree: text, code, random data, an empty file, an empty
// folder, a nested folder and a non-ASCII name.
std::map<std::string, std::vector<uint8_t>> fixture_files() {
  return {
      {"readme.txt", text_bytes(150000, 1)},
      {"bin/tool.exe", code_bytes(120000, 2)},
      {"bin/data.bin", random_bytes(30000, 3)},
      {"empty.txt", {}},
      {"\xC3\xBC" "ber/\xE2\x82\xAC uro \xE6\x97\xA5.txt", text_bytes(5000, 4)},
  };
}
const std::vector<std::string> kFixtureFolders = {"bin", "\xC3\xBC" "ber", "void", "void/deeper"};

void make_fixture(const fs::path& root) {
  for (const auto& [name, bytes] : fixture_files()) write_file(root / fs::path(name), bytes);
  for (const auto& folder : kFixtureFolders) fs::create_directories(root / fs::path(folder));
}

std::string normalized(const std::u16string& name) {
  std::string out = to_utf8(name);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

// Extracts with our reader and checks the result is exactly the fixture.
void expect_fixture(Reader& reader) {
  CollectingSink sink;
  ASSERT_EQ(reader.extract({}, sink), Error::none);
  std::map<std::string, std::vector<uint8_t>> files;
  std::set<std::string> folders;
  for (size_t i = 0; i < reader.entries().size(); ++i) {
    const Entry& entry = reader.entries()[i];
    ASSERT_TRUE(sink.items[i].closed);
    EXPECT_EQ(sink.items[i].result, Error::none);
    if (entry.is_directory) {
      folders.insert(normalized(entry.name));
    } else {
      files[normalized(entry.name)] = sink.items[i].data.bytes;
      EXPECT_EQ(entry.size, sink.items[i].data.bytes.size());
    }
  }
  EXPECT_EQ(files, fixture_files());
  EXPECT_EQ(folders, std::set<std::string>(kFixtureFolders.begin(), kFixtureFolders.end()));
}

// Compares a folder tree on disk with the fixture.
void expect_fixture_on_disk(const fs::path& root) {
  std::map<std::string, std::vector<uint8_t>> files;
  std::set<std::string> folders;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string name = fs::relative(item.path(), root).string();
    if (item.is_directory()) {
      folders.insert(name);
    } else {
      files[name] = read_file(item.path());
    }
  }
  EXPECT_EQ(files, fixture_files());
  EXPECT_EQ(folders, std::set<std::string>(kFixtureFolders.begin(), kFixtureFolders.end()));
}

std::vector<WriterItem> fixture_items() {
  std::vector<WriterItem> items;
  for (const auto& folder : kFixtureFolders) {
    WriterItem item;
    item.name = from_utf8(folder);
    for (auto& c : item.name)
      if (c == u'/') c = u'\\';
    item.is_directory = true;
    items.push_back(item);
  }
  for (const auto& [name, bytes] : fixture_files()) {
    WriterItem item;
    item.name = from_utf8(name);
    for (auto& c : item.name)
      if (c == u'/') c = u'\\';
    item.attributes = 0x20;
    item.has_mtime = true;
    item.mtime = 133000000000000000ull + bytes.size();
    auto data = bytes;
    item.open = [data]() { return std::unique_ptr<InStream>(new MemoryIn(data)); };
    items.push_back(item);
  }
  return items;
}

std::vector<uint8_t> write_fixture(const WriterOptions& options) {
  MemoryOut out;
  EXPECT_EQ(write_archive(out, fixture_items(), options), Error::none);
  return out.bytes;
}

struct SevenZipCase {
  const char* name;
  const char* switches;
  const char* password;
};

class ReadsSevenZipArchives : public ::testing::TestWithParam<SevenZipCase> {};

TEST_P(ReadsSevenZipArchives, ExtractsTheFixture) {
  if (!have_7z()) GTEST_SKIP() << "7z is not installed";
  const auto& c = GetParam();
  TempFolder temp;
  make_fixture(temp.path / "in");
  fs::path archive = temp.path / "a.7z";
  ASSERT_EQ(run("cd '" + (temp.path / "in").string() + "' && 7z a -bd '" + archive.string() + "' " + c.switches + " ."),
            0);
  MemoryIn in(read_file(archive));
  Reader reader;
  std::u16string password = from_utf8(c.password);
  ASSERT_EQ(reader.open(in, [&] { return password; }), Error::none);
  expect_fixture(reader);
  EXPECT_EQ(reader.test(), Error::none);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, ReadsSevenZipArchives,
    ::testing::Values(SevenZipCase{"lzma", "-m0=lzma", ""}, SevenZipCase{"lzma2", "-m0=lzma2 -mx=7", ""},
                      SevenZipCase{"copy", "-m0=copy", ""}, SevenZipCase{"bcj_lzma", "-m0=BCJ -m1=LZMA", ""},
                      SevenZipCase{"bcj_filter", "-mf=BCJ", ""}, SevenZipCase{"bcj2", "-mf=BCJ2", ""},
                      SevenZipCase{"bcj2_chain", "-m0=BCJ2 -m1=LZMA -m2=LZMA -m3=LZMA -mb0:1 -mb0s1:2 -mb0s2:3", ""},
                      SevenZipCase{"solid", "-ms=on", ""}, SevenZipCase{"not_solid", "-ms=off", ""},
                      SevenZipCase{"uncompressed_header", "-mhc=off -m0=copy", ""},
                      SevenZipCase{"password", "-psecret", "secret"},
                      SevenZipCase{"encrypted_header", "-psecret -mhe=on", "secret"},
                      SevenZipCase{"multithreaded", "-mmt=2 -md=64k -ms=on", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct WriterCase {
  const char* name;
  const char16_t* switches;
  const char16_t* password;
};

class SevenZipReadsOurArchives : public ::testing::TestWithParam<WriterCase> {};

TEST_P(SevenZipReadsOurArchives, TestsAndExtractsIdentically) {
  if (!have_7z()) GTEST_SKIP() << "7z is not installed";
  const auto& c = GetParam();
  WriterOptions options;
  ASSERT_EQ(parse_switches(c.switches, options), Error::none);
  options.password = c.password;
  auto bytes = write_fixture(options);
  TempFolder temp;
  fs::path archive = temp.path / "ours.7z";
  write_file(archive, bytes);
  std::string password = to_utf8(c.password);
  std::string p = password.empty() ? "" : " '-p" + password + "'";
  EXPECT_EQ(run("7z t" + p + " '" + archive.string() + "'"), 0);
  ASSERT_EQ(run("7z x -bd" + p + " -o'" + (temp.path / "out").string() + "' '" + archive.string() + "'"), 0);
  expect_fixture_on_disk(temp.path / "out");

  // Our own reader agrees, and without the password nothing is readable.
  MemoryIn in(bytes);
  Reader reader;
  ASSERT_EQ(reader.open(in, [&] { return std::u16string(c.password); }), Error::none);
  expect_fixture(reader);
  if (!password.empty()) {
    Reader locked;
    Error error = locked.open(in);
    if (options.encrypt_headers) {
      EXPECT_EQ(error, Error::wrong_password);
    } else {
      ASSERT_EQ(error, Error::none);
      EXPECT_EQ(locked.test(), Error::wrong_password);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Presets, SevenZipReadsOurArchives,
    ::testing::Values(
        WriterCase{"copy_preset", u"-ssw -mhe=off -mmt=off -ms=off -mhc=off -m0=None -m0=Copy ", u""},
        WriterCase{"bcj2_preset",
                   u"-ssw -mhe=on -mmt=2 -ms=on -mhc=on -m0=BCJ2 -m1=LZMA2 -m1d=26 -m1mf=bt4 -m1fb=64 -m2=LZMA2 "
                   u"-m2d=20 -m2mf=bt4 -m2fb=64 -m3=LZMA2 -m3d=20 -m3mf=bt4 -m3fb=64 -mb0:1 -mb0s1:2 -mb0s2:3 ",
                   u"pass word \u00e9"},
        WriterCase{"lzma", u"-m0=LZMA -m0d=20", u""}, WriterCase{"lzma2_hc4", u"-m0=LZMA2 -m0mf=hc4 -mx=3", u""},
        WriterCase{"bcj_lzma2", u"-m0=BCJ -m1=LZMA2", u""}, WriterCase{"not_solid", u"-ms=off -m0=LZMA", u""},
        WriterCase{"plain_header", u"-mhc=off -m0=LZMA2", u""}, WriterCase{"password", u"-m0=LZMA2", u"secret"},
        WriterCase{"encrypted_header", u"-mhe=on -mhc=off -m0=Copy", u"secret"},
        WriterCase{"threads", u"-mmt=2 -ms=64k -m0=LZMA2 -m0d=16", u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Writer, ThreadsProduceTheSameItemsAsOneThread) {
  WriterOptions one;
  one.solid_block_size = 50000;
  WriterOptions many = one;
  many.threads = 3;
  auto a = write_fixture(one), b = write_fixture(many);
  // Blocks are independent, so the packed data does not depend on threads.
  EXPECT_EQ(a.size(), b.size());
  MemoryIn in(b);
  Reader reader;
  ASSERT_EQ(reader.open(in), Error::none);
  expect_fixture(reader);
  size_t folders = 0;
  for (const auto& e : reader.entries()) folders += e.packed_size > 0;
  EXPECT_GE(folders, 3u);
}

TEST(Reader, WrongPasswordIsReported) {
  for (bool encrypt_headers : {false, true}) {
    WriterOptions options;
    options.password = u"right";
    options.encrypt_headers = encrypt_headers;
    MemoryIn in(write_fixture(options));
    Reader reader;
    Error error = reader.open(in, [] { return std::u16string(u"wrong"); });
    if (encrypt_headers) {
      EXPECT_EQ(error, Error::wrong_password);
      continue;
    }
    ASSERT_EQ(error, Error::none);
    EXPECT_TRUE(std::all_of(reader.entries().begin(), reader.entries().end(),
                            [](const Entry& e) { return e.encrypted == e.has_stream; }));
    CollectingSink sink;
    EXPECT_EQ(reader.extract({}, sink), Error::wrong_password);
  }
}

TEST(Reader, EmptyArchiveAndNotAnArchive) {
  MemoryOut out;
  ASSERT_EQ(write_archive(out, {}, WriterOptions{}), Error::none);
  EXPECT_EQ(out.bytes.size(), 32u);
  MemoryIn empty(out.bytes);
  Reader reader;
  EXPECT_EQ(reader.open(empty), Error::none);
  EXPECT_TRUE(reader.entries().empty());
  MemoryIn text(text_bytes(100, 1));
  EXPECT_EQ(reader.open(text), Error::not_archive);
  MemoryIn tiny({'7', 'z'});
  EXPECT_EQ(reader.open(tiny), Error::not_archive);
}

// Every truncation and many single-byte changes of small archives end in
// an error code (or, for bytes nothing checks, a clean result): never a
// crash, hang or huge allocation (the sanitizer build watches that).
TEST(Reader, TruncatedAndDamagedArchivesFailCleanly) {
  std::vector<std::pair<const char*, WriterOptions>> variants;
  WriterOptions lzma2;
  variants.push_back({"lzma2", lzma2});
  WriterOptions plain;
  plain.compress_headers = false;
  plain.method = Method::lzma;
  plain.filter = Filter::bcj;
  variants.push_back({"plain header", plain});
  WriterOptions secret;
  secret.password = u"x";
  secret.encrypt_headers = true;
  variants.push_back({"encrypted", secret});
  std::vector<WriterItem> items = fixture_items();
  for (auto& item : items)
    if (item.open) {
      auto original = item.open;
      item.open = [original] {
        auto stream = original();
        auto& bytes = static_cast<MemoryIn&>(*stream).bytes;
        bytes.resize(std::min<size_t>(bytes.size(), 700));
        return stream;
      };
    }
  for (const auto& [name, options] : variants) {
    MemoryOut out;
    ASSERT_EQ(write_archive(out, items, options), Error::none);
    const auto& bytes = out.bytes;
    for (size_t length = 0; length < bytes.size(); length += 1 + length / 16) {
      MemoryIn in(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
      Reader reader;
      Error error = reader.open(in, [] { return std::u16string(u"x"); });
      if (error == Error::none) error = reader.test();
      EXPECT_NE(error, Error::none) << name << " cut at " << length;
    }
    std::mt19937 random(5);
    std::set<Error> seen;
    for (int round = 0; round < 300; ++round) {
      auto damaged = bytes;
      damaged[random() % damaged.size()] ^= uint8_t(1 << (random() % 8));
      MemoryIn in(damaged);
      Reader reader;
      Error error = reader.open(in, [] { return std::u16string(u"x"); });
      if (error == Error::none) error = reader.test();
      seen.insert(error);
    }
    EXPECT_TRUE(seen.count(Error::damaged)) << name;
  }
}

TEST(Reader, CrcMismatchIsDetected) {
  WriterOptions options;
  options.method = Method::copy;
  options.solid = false;
  auto bytes = write_fixture(options);
  MemoryIn in(bytes);
  Reader reader;
  ASSERT_EQ(reader.open(in), Error::none);
  size_t victim = 0;
  while (!reader.entries()[victim].has_stream) ++victim;
  // Copy method, not solid: the first item's data starts right after the
  // signature header.
  in.bytes[32 + 10] ^= 0x40;
  EXPECT_EQ(reader.test(), Error::crc_mismatch);
  CollectingSink sink;
  EXPECT_EQ(reader.extract({}, sink), Error::crc_mismatch);
  EXPECT_EQ(sink.items[victim].result, Error::crc_mismatch);
  for (const auto& [index, item] : sink.items)
    if (index != victim) {
      EXPECT_EQ(item.result, Error::none) << index;
    }
}

TEST(Reader, HostileNamesAreListedButNotSafe) {
  std::vector<WriterItem> items;
  for (const char16_t* name : {u"..\\..\\evil.exe", u"C:\\Windows\\evil.dll", u"\\abs.txt", u"ok\\fine.txt"}) {
    WriterItem item;
    item.name = name;
    item.open = [] { return std::unique_ptr<InStream>(new MemoryIn({'x'})); };
    items.push_back(item);
  }
  MemoryOut out;
  ASSERT_EQ(write_archive(out, items, WriterOptions{}), Error::none);
  MemoryIn in(out.bytes);
  Reader reader;
  ASSERT_EQ(reader.open(in), Error::none);
  ASSERT_EQ(reader.entries().size(), 4u);
  std::vector<bool> safe;
  for (const auto& e : reader.entries()) safe.push_back(safe_item_name(e.name));
  EXPECT_EQ(safe, (std::vector<bool>{false, false, false, true}));
}

TEST(Reader, ExtractsASelectionAndMetadata) {
  auto bytes = write_fixture(WriterOptions{});
  MemoryIn in(bytes);
  Reader reader;
  ASSERT_EQ(reader.open(in), Error::none);
  const auto& entries = reader.entries();
  size_t tool = 0;
  while (normalized(entries[tool].name) != "bin/tool.exe") ++tool;
  CollectingSink sink;
  ASSERT_EQ(reader.extract({tool}, sink), Error::none);
  EXPECT_EQ(sink.items.size(), 1u);
  EXPECT_EQ(sink.items[tool].data.bytes, fixture_files()["bin/tool.exe"]);
  EXPECT_TRUE(entries[tool].has_mtime);
  EXPECT_EQ(entries[tool].mtime, 133000000000000000ull + 120000);
  EXPECT_EQ(entries[tool].attributes, 0x20u);
  EXPECT_EQ(reader.extract({entries.size()}, sink), Error::no_such_item);
  int calls = 0;
  EXPECT_EQ(reader.test([&](const std::u16string&, uint64_t, uint64_t) { return ++calls < 3; }), Error::cancelled);
}

TEST(Delete, RemovesItemsCopiesUntouchedFoldersAnd7zAgrees) {
  WriterOptions options;
  options.solid_block_size = 100000;  // several folders
  auto bytes = write_fixture(options);
  MemoryIn in(bytes);
  MemoryOut out;
  ASSERT_EQ(delete_items(in, out, {u"BIN\\data.bin", u"void"}, options), Error::none);
  MemoryIn result(out.bytes);
  Reader reader;
  ASSERT_EQ(reader.open(result), Error::none);
  auto expected = fixture_files();
  expected.erase("bin/data.bin");
  CollectingSink sink;
  ASSERT_EQ(reader.extract({}, sink), Error::none);
  std::map<std::string, std::vector<uint8_t>> files;
  for (size_t i = 0; i < reader.entries().size(); ++i) {
    const auto& e = reader.entries()[i];
    EXPECT_NE(normalized(e.name).rfind("void", 0), 0u) << normalized(e.name);
    if (!e.is_directory) files[normalized(e.name)] = sink.items[i].data.bytes;
  }
  EXPECT_EQ(files, expected);
  // The folder holding readme.txt alone was copied, not re-encoded: its
  // packed bytes appear unchanged in the new archive.
  Reader original;
  ASSERT_EQ(original.open(in), Error::none);
  EXPECT_EQ(delete_items(in, out, {u"no such"}, options), Error::no_such_item);
  if (have_7z()) {
    TempFolder temp;
    write_file(temp.path / "d.7z", out.bytes);
    EXPECT_EQ(run("7z t '" + (temp.path / "d.7z").string() + "'"), 0);
  }
}

TEST(Delete, WorksOnArchivesMadeBy7zWithPassword) {
  if (!have_7z()) GTEST_SKIP() << "7z is not installed";
  TempFolder temp;
  make_fixture(temp.path / "in");
  fs::path archive = temp.path / "a.7z";
  ASSERT_EQ(run("cd '" + (temp.path / "in").string() + "' && 7z a -psecret -mhe=on '" + archive.string() + "' ."), 0);
  MemoryIn in(read_file(archive));
  MemoryOut out;
  WriterOptions options;
  options.password = u"secret";
  options.encrypt_headers = true;
  ASSERT_EQ(delete_items(in, out, {u"readme.txt"}, options, [] { return std::u16string(u"secret"); }), Error::none);
  write_file(temp.path / "b.7z", out.bytes);
  ASSERT_EQ(run("7z x -psecret -o'" + (temp.path / "out").string() + "' '" + (temp.path / "b.7z").string() + "'"), 0);
  EXPECT_FALSE(fs::exists(temp.path / "out" / "readme.txt"));
  EXPECT_EQ(read_file(temp.path / "out" / "bin" / "tool.exe"), fixture_files()["bin/tool.exe"]);
}

}  // namespace
}  // namespace kyt::sevenzip
