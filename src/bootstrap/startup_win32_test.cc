#include "bootstrap/startup_win32.h"

#include <windows.h>
#include <sddl.h>
#include <gtest/gtest.h>

#include "system/handle_win32.h"
#include "system/process_paths_win32.h"

namespace kyt {
namespace {

class SupportFolderTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = temporary_folder() + u"kyt-support-test-" + decimal(static_cast<int64_t>(GetCurrentProcessId())) + u"\\";
    remove_folder_tree(root_);
    ASSERT_TRUE(CreateDirectoryW(wide(root_), nullptr));
  }
  void TearDown() override { remove_folder_tree(root_); }
  void write(const Text& path) {
    UniqueFile file(CreateFileW(wide(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << to_utf8(path);
  }
  bool exists(const Text& path) { return GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES; }
  Text root_;
};

TEST_F(SupportFolderTest, EveryCallCreatesANewFolderAndSkipsTakenNames) {
  EXPECT_EQ(create_support_folder(root_), root_ + u"kyt1\\");
  EXPECT_EQ(create_support_folder(root_), root_ + u"kyt2\\");
  write(root_ + u"kyt3");  // a file of that name counts as taken
  EXPECT_EQ(create_support_folder(root_), root_ + u"kyt4\\");
}

// Elevated, the folder admits exactly SYSTEM, Administrators and the user
// and inherits nothing. (Wine accepts the descriptor at creation but does
// not keep it on the folder, so the list is checked as handed over.)
TEST(SupportFolderSecurityTest, AccessListWhenElevated) {
  Text sddl = support_folder_access_list();
  if (!process_is_elevated()) {
    EXPECT_EQ(sddl, u"");
    return;
  }
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  UniqueHandle owner(token);
  char buffer[256];
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size));
  wchar_t* user = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &user));
  EXPECT_EQ(sddl, u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + from_wide(user) + u")");
  LocalFree(user);
  // The text is a valid descriptor whose list is protected.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(wide(sddl), SDDL_REVISION_1, &descriptor, nullptr));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  LocalFree(descriptor);
}

TEST_F(SupportFolderTest, RemovalDoesNotEnterLinks) {
  Text outside = root_ + u"outside\\";
  ASSERT_TRUE(CreateDirectoryW(wide(outside), nullptr));
  write(outside + u"keep.txt");
  Text folder = create_support_folder(root_);
  ASSERT_TRUE(CreateDirectoryW(wide(folder + u"sub"), nullptr));
  write(folder + u"sub\\file.txt");
  if (!CreateSymbolicLinkW(wide(folder + u"link"), wide(outside), SYMBOLIC_LINK_FLAG_DIRECTORY))
    GTEST_SKIP() << "this system cannot create directory links";
  remove_folder_tree(folder);
  EXPECT_FALSE(exists(folder));
  EXPECT_TRUE(exists(outside + u"keep.txt"));
}

}  // namespace
}  // namespace kyt
