// What the built program carries for the system: its application manifest, read through an
// activation context as the loader reads it, and its version resource, read as Explorer does.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace harvester {
namespace {

const std::wstring kProgram = testing::ExecutableFolder() + L"harvester.exe";

TEST(ResourceTest, ManifestMakesTheProgramSystemDpiAwareAsInvokerForWindows7To11AndNothingElse) {
  ACTCTXW request = {sizeof request, ACTCTX_FLAG_RESOURCE_NAME_VALID, kProgram.c_str()};
  request.lpResourceName = CREATEPROCESS_MANIFEST_RESOURCE_ID;
  const HANDLE context = CreateActCtxW(&request);
  ASSERT_NE(context, INVALID_HANDLE_VALUE) << "no manifest the system can read: error " << GetLastError();
  wchar_t dpiAware[32] = {};
  EXPECT_TRUE(QueryActCtxSettingsW(0, context, nullptr, L"dpiAware", dpiAware, std::size(dpiAware), nullptr));
  EXPECT_EQ(std::wstring(dpiAware), L"true");
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel = {};
  EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &runLevel, sizeof runLevel,
                           nullptr));
  EXPECT_EQ(runLevel.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
  // Windows 7, 8, 8.1 and 10 (Windows 11's too). The elements' size differs between systems (newer
  // ones add the highest version tested), so each is looked for by its bytes.
  const GUID systems[] = {{0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}},
                          {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}},
                          {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}},
                          {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}}};
  std::vector<BYTE> compatibility(1024);
  EXPECT_TRUE(QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, compatibility.data(),
                           compatibility.size(), nullptr));
  EXPECT_EQ(reinterpret_cast<ACTIVATION_CONTEXT_COMPATIBILITY_INFORMATION*>(compatibility.data())->ElementCount, 4u);
  for (const GUID& system : systems) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&system);
    EXPECT_NE(std::search(compatibility.begin(), compatibility.end(), bytes, bytes + sizeof system),
              compatibility.end()) << std::hex << system.Data1;
  }
  // The program's own assembly alone: no common-controls 6, whose themed look would replace the 3-D one.
  std::vector<BYTE> details(4096);
  EXPECT_TRUE(QueryActCtxW(0, context, nullptr, ActivationContextDetailedInformation, details.data(), details.size(),
                           nullptr));
  EXPECT_EQ(reinterpret_cast<ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(details.data())->ulAssemblyCount, 1u);
  ReleaseActCtx(context);
}

TEST(ResourceTest, VersionResourceNamesTheProductItsVersionAndTheCommitItIsBuiltFrom) {
  std::vector<BYTE> block(GetFileVersionInfoSizeW(kProgram.c_str(), nullptr));
  ASSERT_FALSE(block.empty()) << "no version resource: error " << GetLastError();
  ASSERT_TRUE(GetFileVersionInfoW(kProgram.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
  const auto query = [&](const std::wstring& path) {
    void* value = nullptr;
    UINT length = 0;
    return VerQueryValueW(block.data(), path.c_str(), &value, &length) ? value : nullptr;
  };
  const auto* translation = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation"));
  ASSERT_NE(translation, nullptr);
  EXPECT_EQ(translation[1], 1200) << "the texts are UTF-16";
  wchar_t language[9] = {};
  swprintf(language, std::size(language), L"%04x%04x", translation[0], translation[1]);
  const auto text = [&](const wchar_t* name) {
    const auto* value = static_cast<const wchar_t*>(query(L"\\StringFileInfo\\" + std::wstring(language) + L"\\" + name));
    return value ? std::wstring(value) : L"(none)";
  };
  EXPECT_EQ(text(L"ProductName"), L"Orvel手机号码采集器");
  EXPECT_NE(text(L"FileDescription"), L"(none)");
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
  ASSERT_NE(fixed, nullptr);
  EXPECT_NE(fixed->dwFileVersionMS, 0u);
  const std::wstring dotted = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                              std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                              std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                              std::to_wstring(LOWORD(fixed->dwFileVersionLS));
  EXPECT_EQ(text(L"FileVersion"), dotted);
  // The product version also names the commit; a build from uncommitted changes says so in it,
  // in its file flags and in "PrivateBuild".
  const std::wstring product = text(L"ProductVersion");
  const bool privateBuild = fixed->dwFileFlags & VS_FF_PRIVATEBUILD;
  const size_t commit = product.find(L" (commit ");
  ASSERT_NE(commit, std::wstring::npos) << product;
  EXPECT_EQ(product.substr(0, commit), dotted);
  EXPECT_EQ(product.find_first_not_of(L"0123456789abcdef", commit + 9), commit + 21) << "a 12-digit id: " << product;
  EXPECT_EQ(product.ends_with(L" with uncommitted changes)"), privateBuild) << product;
  EXPECT_EQ(text(L"PrivateBuild") != L"(none)", privateBuild);
}

}  // namespace
}  // namespace harvester
