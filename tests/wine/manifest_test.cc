// Every executable carries an application manifest with the execution level,
// the supported Windows versions and the Common Controls 6.0 dependency.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string manifest_of(const wchar_t* path) {
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (!module) return {};
  std::string text;
  if (HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
    HGLOBAL data = LoadResource(module, resource);
    DWORD size = SizeofResource(module, resource);
    if (data && size) text.assign(static_cast<const char*>(LockResource(data)), size);
  }
  FreeLibrary(module);
  return text;
}

class ManifestTest : public testing::TestWithParam<const wchar_t*> {};

TEST_P(ManifestTest, DeclaresLevelVersionsAndCommonControls) {
  std::wstring path = GetParam();
  if (path.empty()) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    path = self;
  }
  std::string manifest = manifest_of(path.c_str());
  ASSERT_FALSE(manifest.empty()) << "no manifest resource in " << std::string(path.begin(), path.end());
  EXPECT_NE(manifest.find("requestedExecutionLevel level=\"highestAvailable\""), std::string::npos);
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos);
  for (const char* id : {"e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                         "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                         "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
    EXPECT_NE(manifest.find(std::string("supportedOS Id=\"{") + id + "}\""), std::string::npos) << id;
}

INSTANTIATE_TEST_SUITE_P(Executables, ManifestTest,
                         testing::Values(L"", L"..\\..\\src\\main\\setup.exe", L"..\\..\\tools\\build\\kytbuild.exe"));

}  // namespace
