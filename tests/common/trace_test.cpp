#include <gtest/gtest.h>

#include "common/handles.h"
#include "common/trace.h"
#include "test_support.h"

namespace {

// Starts the real trace viewer writing to a file and stops it at the end.
class Viewer {
 public:
  explicit Viewer(const std::wstring& outputPath) {
    std::wstring commandLine = L"\"" + zvtest::ProgramFolder() + L"\\dbgview.exe\" \"" + outputPath + L"\"";
    STARTUPINFOW startup = {sizeof(startup)};
    PROCESS_INFORMATION info = {};
    if (::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &info)) {
      process_.reset(info.hProcess);
      ::CloseHandle(info.hThread);
    }
  }
  ~Viewer() {
    if (HWND window = ::FindWindowA(nullptr, "DbgView")) ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (process_ && ::WaitForSingleObject(process_.get(), 5000) != WAIT_OBJECT_0) {
      ::TerminateProcess(process_.get(), 1);
    }
  }
  bool WaitUntilReady() {
    return process_ && zvtest::WaitFor([] { return ::FindWindowA(nullptr, "DbgView") != nullptr; }, 10000);
  }

 private:
  zv::UniqueHandle process_;
};

std::string Line(const std::string& text) {
  return std::to_string(::GetCurrentProcessId()) + "\t" + text + "\n";
}

TEST(Trace, WithoutViewerDoesNothingThenReachesALaterViewer) {
  ASSERT_EQ(::FindWindowA(nullptr, "DbgView"), nullptr) << "another viewer is running";
  EXPECT_EQ(zv::Trace(L"nobody hears %d", 1), 1);

  zvtest::TempFolder temp(L"trace");
  const std::wstring output = temp / L"lines.txt";
  {
    Viewer viewer(output);
    if (!viewer.WaitUntilReady()) GTEST_SKIP() << "the viewer window needs a display";
    EXPECT_EQ(zv::Trace(L"MMMMM----进入%ls %d", L"call", 7), 1);
    const std::wstring longLine(1000, L'x');
    EXPECT_EQ(zv::Trace(L"%ls", longLine.c_str()), 1);
  }
  const std::string expected = Line("MMMMM----\xE8\xBF\x9B\xE5\x85\xA5" "call 7") + Line(std::string(511, 'x'));
  EXPECT_EQ(zvtest::ReadFileBytes(output), expected);
}

}  // namespace
