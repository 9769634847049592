#include "install/machine_win32.h"

#include <windows.h>
#include <gtest/gtest.h>

#include "bootstrap/startup_win32.h"
#include "system/file_system_win32.h"
#include "system/handle_win32.h"
#include "system/process_paths_win32.h"

namespace kyt {
namespace {

// The copy routine on real files: progress in blocks up to the whole size,
// the source's times and normal attributes on the copy, and a cancelled
// copy that leaves nothing behind.
TEST(Win32MachineCopy, ReportsBytesKeepsTimesAndCancelsCleanly) {
  Text root = temporary_folder() + u"kyt-copy-test-" + decimal(static_cast<int64_t>(GetCurrentProcessId())) + u"\\";
  remove_folder_tree(root);
  ASSERT_TRUE(CreateDirectoryW(wide(root), nullptr));
  std::string bytes(3 * 1024 * 1024 + 12345, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 4096);
  Win32FileSystem files;
  ASSERT_TRUE(files.write_file(root + u"source.bin", bytes));
  ASSERT_TRUE(SetFileAttributesW(wide(root + u"source.bin"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));

  Win32Machine machine;
  std::vector<uint64_t> reports;
  ASSERT_EQ(machine.copy_file(root + u"source.bin", root + u"copy.bin", [&](uint64_t copied) {
    reports.push_back(copied);
    return true;
  }), 0u);
  ASSERT_GE(reports.size(), 3u);
  EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
  EXPECT_EQ(reports.back(), bytes.size());
  EXPECT_EQ(files.read_file(root + u"copy.bin"), bytes);
  auto source = machine.facts(root + u"source.bin"), copy = machine.facts(root + u"copy.bin");
  ASSERT_TRUE(source && copy);
  EXPECT_EQ(copy->time, source->time);
  EXPECT_EQ(copy->attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN), 0u);

  // Replaces an existing copy; a cancel after the first block leaves no file.
  EXPECT_EQ(machine.copy_file(root + u"source.bin", root + u"copy.bin", nullptr), 0u);
  EXPECT_EQ(machine.copy_file(root + u"source.bin", root + u"cancelled.bin", [](uint64_t) { return false; }),
            kErrorRequestAborted);
  EXPECT_FALSE(machine.exists(root + u"cancelled.bin"));
  EXPECT_EQ(machine.copy_file(root + u"missing.bin", root + u"x.bin", nullptr), kErrorFileNotFound);

  SetFileAttributesW(wide(root + u"source.bin"), FILE_ATTRIBUTE_NORMAL);
  remove_folder_tree(root);
}

}  // namespace
}  // namespace kyt
