#include <gtest/gtest.h>

#include <cstdio>

#include "common/text.h"
#include "hall_host.h"
#include "host_script.h"
#include "test_support.h"

namespace {

TEST(HostScriptWords, QuotesAndObjectsStayWhole) {
  struct Case {
    const wchar_t* line;
    std::vector<std::wstring> words;
  } cases[] = {
      {L"call STARTGAME \"a.exe -gameid 1\"", {L"call", L"STARTGAME", L"\"a.exe -gameid 1\""}},
      {L"call ONZORVANADDGAME {id=\"1 2\" hallid=1000006} 6", {L"call", L"ONZORVANADDGAME", L"{id=\"1 2\" hallid=1000006}", L"6"}},
      {L"  wait X p1=\"q \\\" r\"  # note", {L"wait", L"X", L"p1=\"q \\\" r\""}},
      {L"# only a comment", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(zv::ToUtf8(c.line));
    std::vector<std::wstring> words;
    ASSERT_TRUE(zv::SplitWords(c.line, &words));
    EXPECT_EQ(words, c.words);
  }
  std::vector<std::wstring> words;
  EXPECT_FALSE(zv::SplitWords(L"call X \"open", &words));
  EXPECT_FALSE(zv::SplitWords(L"call X {id=1", &words));
}

// Drives the real halls the way the demo does and checks what each script
// command makes of the recorded events.
class HostScriptRun : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(::CoInitialize(nullptr)); }
  void TearDown() override { ::CoUninitialize(); }

  zv::ScriptResult Run(const wchar_t* dll, const std::vector<std::wstring>& lines) {
    zv::HallHost host;
    FILE* out = std::tmpfile();
    zv::HostScript script(host, out);
    const HRESULT loaded = host.Load(zvtest::ProgramFolder() + L"\\" + dll);
    EXPECT_HRESULT_SUCCEEDED(loaded);
    const zv::ScriptResult result = FAILED(loaded) ? zv::ScriptResult::kLoadFailed : script.Run(lines);
    std::rewind(out);
    char chunk[4096];
    size_t read = 0;
    text_.clear();
    while ((read = std::fread(chunk, 1, sizeof(chunk), out)) > 0) text_.append(chunk, read);
    std::fclose(out);
    return result;
  }

  std::string text_;
};

TEST_F(HostScriptRun, WaitMatchesEventsAfterTheLastMatch) {
  EXPECT_EQ(Run(L"Lanternis.dll", {L"call NOSUCH", L"call NOSUCH", L"wait ErroMethod", L"wait ErroMethod",
                                   L"wait ErroMethod timeout=50"}),
            zv::ScriptResult::kTimedOut);
  EXPECT_NE(text_.find("event ErroMethod p1=- p2=-"), std::string::npos) << text_;
  EXPECT_NE(text_.find("timeout: no ErroMethod within 50 ms"), std::string::npos) << text_;
}

TEST_F(HostScriptRun, ConditionsLookAtParameters) {
  EXPECT_EQ(Run(L"Lanternis.dll", {L"call NOSUCH", L"wait ErroMethod p1=x timeout=50"}),
            zv::ScriptResult::kTimedOut);
  EXPECT_EQ(Run(L"Lanternis.dll", {L"call NOSUCH", L"wait ErroMethod p1=- p2=-"}), zv::ScriptResult::kOk);
}

TEST_F(HostScriptRun, ExpectationsCheckTheLastCall) {
  struct Case {
    std::vector<std::wstring> lines;
    zv::ScriptResult result;
  } cases[] = {
      {{L"call NOSUCH", L"expect-hr 1"}, zv::ScriptResult::kOk},
      {{L"call NOSUCH", L"expect-hr 0"}, zv::ScriptResult::kMismatch},
      {{L"call INIT 5 \"x\"", L"expect-hr 0x0"}, zv::ScriptResult::kOk},
      {{L"call INIT", L"expect -"}, zv::ScriptResult::kOk},
      {{L"call INIT", L"bogus"}, zv::ScriptResult::kBadScript},
      {{L"call INIT notanargument"}, zv::ScriptResult::kBadScript},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(zv::ToUtf8(c.lines.back()));
    EXPECT_EQ(Run(L"Ostrelle.dll", c.lines), c.result) << text_;
  }
}

}  // namespace
