// Where Quiverx.dll is loaded from and what the user is told when it is
// missing or broken. This program's folder holds no Quiverx.dll; the
// scenarios that need one run a copy of this program from a folder of their
// own as a child process, because the loader keeps its state for the life of
// the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/locations.h"
#include "common/text.h"
#include "containers/container_binding.h"
#include "test_support.h"

namespace {

constexpr wchar_t kScenarioVariable[] = L"ZV_LOADER_SCENARIO";
constexpr wchar_t kChildTest[] = L"LoaderChild.DISABLED_RunsTheScenario";

struct ShownBox {
  std::wstring text;
  std::wstring caption;
  UINT flags;
};
std::vector<ShownBox> shownBoxes;

int WINAPI RecordBox(HWND, LPCWSTR text, LPCWSTR caption, UINT flags) {
  shownBoxes.push_back({text, caption, flags});
  return IDOK;
}

std::wstring Fixture(const wchar_t* name) { return zvtest::ProgramFolder() + L"\\..\\Fixtures\\" + name; }

std::wstring LoadedModulePath(const wchar_t* name) {
  const HMODULE module = ::GetModuleHandleW(name);
  if (!module) return {};
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

// Runs body with the current directory set to folder.
template <typename Body>
void InCurrentDirectory(const std::wstring& folder, Body&& body) {
  wchar_t previous[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryW(folder.c_str()));
  body();
  ::SetCurrentDirectoryW(previous);
}

TEST(QuiverxLoader, MissingLibraryIsReportedAndTheCurrentDirectoryIgnored) {
  zvtest::TempFolder planted(L"planted");
  ASSERT_TRUE(::CopyFileW(Fixture(L"Quiverx.dll").c_str(), (planted / L"Quiverx.dll").c_str(), FALSE));
  zv::SetLoaderMessageBox(&RecordBox);
  InCurrentDirectory(planted.path(), [] {
    EXPECT_FALSE(zv::NewDataX());
    EXPECT_FALSE(zv::NewDataX());
  });
  zv::SetLoaderMessageBox(nullptr);

  EXPECT_EQ(nullptr, ::GetModuleHandleW(L"Quiverx.dll"));
  ASSERT_EQ(2u, shownBoxes.size());  // one box on every attempt
  for (const ShownBox& box : shownBoxes) {
    EXPECT_EQ(zvtest::ProgramFolder() + L"\\Quiverx.dll", box.text);
    EXPECT_EQ(L"错误：文件没找到！", box.caption);
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), box.flags);
  }
  shownBoxes.clear();
}

// ---- Scenarios run in a child process ----

struct Scenario {
  const char* label;
  const wchar_t* library;  // fixture copied beside the child as Quiverx.dll; null: not a library at all
  const wchar_t* plantedInCurrentDirectory;  // fixture planted as Quiverx.dll in the child's current directory
  const wchar_t* text;     // expected box text, with %ls for the child's Quiverx.dll; null: no box
  const wchar_t* caption;
};

const Scenario kScenarios[] = {
    {"not_a_library", nullptr, nullptr, L"LoadLibrary(%ls) 调用失败！\nErrorCode = 193", L"错误"},
    {"no_class_object_export", L"NoExports.dll", nullptr, L"获取 DataX.dll 中的 DllGetClassObject 函数地址失败！", L"错误"},
    {"no_CDataX_class", L"Quiver.dll", nullptr, L"创建CDataX类工厂失败！", L"错误"},
    {"beside_the_module", L"Quiverx.dll", L"Quiver.dll", nullptr, nullptr},
};

// The child's side: loads as the scenario says and checks what happened.
TEST(LoaderChild, DISABLED_RunsTheScenario) {
  const char* label = getenv("ZV_LOADER_SCENARIO");
  ASSERT_TRUE(label);
  const Scenario* scenario = nullptr;
  for (const Scenario& candidate : kScenarios) {
    if (strcmp(candidate.label, label) == 0) scenario = &candidate;
  }
  ASSERT_TRUE(scenario);
  const std::wstring besideModule = zvtest::ProgramFolder() + L"\\Quiverx.dll";

  const HMODULE jscript = ::LoadLibraryW(L"jscript.dll");
  zv::SetLoaderMessageBox(&RecordBox);
  const zv::ComPtr<IDispatchEx> object = zv::NewDataX();
  if (!scenario->text) {
    ASSERT_TRUE(object);
    EXPECT_TRUE(shownBoxes.empty());
    EXPECT_TRUE(zv::EqualsIgnoreCase(besideModule, LoadedModulePath(L"Quiverx.dll"))) << "wrong Quiverx.dll loaded";
    ::FreeLibrary(jscript);
    EXPECT_TRUE(::GetModuleHandleW(L"jscript.dll")) << "jscript.dll was not kept loaded";
    return;
  }
  EXPECT_FALSE(object);
  ASSERT_EQ(1u, shownBoxes.size());
  EXPECT_EQ(zv::Format(scenario->text, besideModule.c_str()), shownBoxes[0].text);
  EXPECT_EQ(scenario->caption, shownBoxes[0].caption);
  EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), shownBoxes[0].flags);
}

class LoaderScenarioTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(LoaderScenarioTest, ChildSeesTheExpectedOutcome) {
  const Scenario& scenario = GetParam();
  zvtest::TempFolder folder(L"loader");
  zvtest::TempFolder current(L"current");
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring child = folder / L"loader_child.exe";
  ASSERT_TRUE(::CopyFileW(self, child.c_str(), FALSE));
  if (scenario.library) {
    ASSERT_TRUE(::CopyFileW(Fixture(scenario.library).c_str(), (folder / L"Quiverx.dll").c_str(), FALSE));
  } else {
    ASSERT_TRUE(zvtest::WriteFileBytes(folder / L"Quiverx.dll", "this is not a library"));
  }
  if (scenario.plantedInCurrentDirectory) {
    ASSERT_TRUE(::CopyFileW(Fixture(scenario.plantedInCurrentDirectory).c_str(), (current / L"Quiverx.dll").c_str(),
                            FALSE));
  }

  ::SetEnvironmentVariableW(kScenarioVariable, zv::FromCodePage(scenario.label).c_str());
  zvtest::ProcessResult result;
  InCurrentDirectory(current.path(), [&] {
    result = zvtest::RunProcess(L"\"" + child + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + kChildTest);
  });
  ::SetEnvironmentVariableW(kScenarioVariable, nullptr);

  ASSERT_TRUE(result.finished) << result.output;
  EXPECT_EQ(0u, result.exitCode) << result.output;
  EXPECT_NE(std::string::npos, result.output.find("[  PASSED  ] 1 test")) << result.output;
}

INSTANTIATE_TEST_SUITE_P(Quiverx, LoaderScenarioTest, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.label); });

}  // namespace
