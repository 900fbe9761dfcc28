// zvhost: loads a hall DLL by path, connects an event sink and runs host
// commands from a script file or from -e arguments, printing every call and
// event as one line.
//
//   zvhost HALL.dll SCRIPT
//   zvhost HALL.dll -e "call INIT" -e "wait GameStatusChanged"
//
// Exit code: 0 all commands done, 1 the hall could not be loaded, 2 a bad
// script, 3 a wait timed out, 4 an expectation did not hold.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/text.h"
#include "host_script.h"

namespace {

bool ReadScriptLines(const std::wstring& path, std::vector<std::wstring>* lines) {
  FILE* file = _wfopen(path.c_str(), L"rb");
  if (!file) return false;
  std::string bytes;
  char chunk[4096];
  size_t read = 0;
  while ((read = std::fread(chunk, 1, sizeof(chunk), file)) > 0) bytes.append(chunk, read);
  std::fclose(file);
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
  const std::wstring text = zv::FromUtf8(bytes);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    lines->push_back(line);
    start = end + 1;
  }
  return true;
}

int Usage() {
  std::fprintf(stderr, "usage: zvhost HALL.dll (SCRIPT | -e COMMAND [-e COMMAND ...])\n");
  return static_cast<int>(zv::ScriptResult::kBadScript);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  std::vector<std::wstring> lines;
  for (int i = 2; i < argc; ++i) {
    if (std::wstring(argv[i]) == L"-e") {
      if (++i >= argc) return Usage();
      lines.push_back(argv[i]);
    } else if (!ReadScriptLines(argv[i], &lines)) {
      std::fprintf(stderr, "zvhost: cannot read the script %s\n", zv::ToUtf8(argv[i]).c_str());
      return static_cast<int>(zv::ScriptResult::kBadScript);
    }
  }

  if (FAILED(::CoInitialize(nullptr))) return static_cast<int>(zv::ScriptResult::kLoadFailed);
  int exitCode = 0;
  {
    zv::HallHost host;
    zv::HostScript script(host, stdout);
    const HRESULT loaded = host.Load(argv[1]);
    if (FAILED(loaded)) {
      script.Print(zv::Format(L"error: cannot load the hall %ls (hr=0x%08lX)", argv[1],
                              static_cast<unsigned long>(loaded)));
      exitCode = static_cast<int>(zv::ScriptResult::kLoadFailed);
    } else {
      exitCode = static_cast<int>(script.Run(lines));
    }
  }
  ::CoUninitialize();
  return exitCode;
}
