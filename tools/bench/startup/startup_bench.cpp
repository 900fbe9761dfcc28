// Start-up at scale: how long a new PC hall takes to take back 1,000 games
// that are on disk in mixed states, the way the host adds every known game at
// each start ("ONZORVANADDGAME", each game restoring its state from its
// config.ini, its information file and its files).
//
//   startup_bench            prepares the games, settles them once, then runs
//                            a fresh process per size and prints
//                            "startup N games: T ms" for N = 250, 500, 1000
//   startup_bench --run N [--quiet]
//                            (child) times one new hall adding N games
//
// Every size runs in its own process so nothing of an earlier hall (loaded
// information files) is reused, as after a real restart.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/handles.h"
#include "common/locations.h"
#include "common/settings.h"
#include "common/text.h"
#include "hall_host.h"

namespace {

constexpr int kFirstGameId = 700000;
constexpr int kGames = 1000;
constexpr int kSizes[] = {250, 500, 1000};

std::wstring GameId(int index) { return std::to_wstring(kFirstGameId + index); }

bool WriteText(const std::wstring& path, const std::string& text) {
  zv::CreateFolderTree(path.substr(0, path.find_last_of(L'\\')));
  zv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string GameXml(const std::wstring& id) {
  const std::string narrowId = zv::ToUtf8(id);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<game" + narrowId + " name=\"Game" + narrowId +
         "\">\n  <clients>\n    <MD5-0123456789abcdef0123456789abcdef>\n"
         "      <fileUrl>ZVURL1EkDu2FEdW8s=</fileUrl>\n      <startupFile>start.exe</startupFile>\n"
         "    </MD5-0123456789abcdef0123456789abcdef>\n  </clients>\n</game" + narrowId + ">\n";
}

// A third of the games is installed (its start program exists), a third
// paused half-way through its download, a third has only its information.
void PrepareGame(int index, const std::wstring& store) {
  const std::wstring id = GameId(index);
  const std::wstring folder = zv::ProductFolder() + L"\\" + id;
  WriteText(folder + L"\\game.xml", GameXml(id));
  const zv::IniFile config(folder + L"\\config.ini");
  if (index % 3 == 0) {
    const std::wstring name = L"Game" + id;
    const std::wstring program = store + L"\\Games\\" + name + L"\\" + name + L"\\start.exe";
    WriteText(program, "MZ");
    config.WriteString(L"config", L"startup", program);
    config.WriteInt(L"config", L"state", 6);
  } else if (index % 3 == 1) {
    config.WriteInt(L"download", L"progress", 40);
    config.WriteInt(L"config", L"state", 3);
  }
}

HRESULT AddGames(zv::HallHost& host, int count) {
  for (int i = 0; i < count; ++i) {
    zv::UniqueVariant id, hallId, object, target, result;
    id->vt = VT_BSTR;
    id->bstrVal = ::SysAllocString(GameId(i).c_str());
    hallId->vt = VT_I4;
    hallId->lVal = 1000001;
    IDispatch* script = nullptr;
    if (FAILED(host.MakeScriptObject({{L"id", *id.get()}, {L"hallid", *hallId.get()}}, &script))) return E_FAIL;
    object->vt = VT_DISPATCH;
    object->pdispVal = script;
    target->vt = VT_ERROR;
    target->scode = DISP_E_PARAMNOTFOUND;
    const HRESULT hr = host.Call(L"ONZORVANADDGAME", *object.get(), *target.get(), result.get());
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// One new hall object adding count games; the time covers loading the hall
// and every add, as the host's start-up does.
int RunChild(int count, bool quiet) {
  if (FAILED(::CoInitialize(nullptr))) return 1;
  int exitCode = 0;
  {
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    zv::HallHost host;
    HRESULT hr = host.Load(zv::ProgramFilePath(L"..\\Ostrelle.dll"));
    if (SUCCEEDED(hr)) hr = AddGames(host, count);
    ::QueryPerformanceCounter(&end);
    if (FAILED(hr)) {
      std::fprintf(stderr, "startup_bench: adding games failed (0x%08lX)\n", static_cast<unsigned long>(hr));
      exitCode = 1;
    } else if (!quiet) {
      std::printf("startup %d games: %.0f ms\n", count,
                  (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    }
  }
  ::CoUninitialize();
  return exitCode;
}

int RunChildProcess(const std::wstring& arguments) {
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" " + arguments;
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
    return 1;
  }
  zv::UniqueHandle process(info.hProcess), thread(info.hThread);
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD exitCode = 1;
  ::GetExitCodeProcess(process.get(), &exitCode);
  return static_cast<int>(exitCode);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring(argv[1]) == L"--run") return RunChild(_wtoi(argv[2]), argc > 3);

  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring store = zv::RemoveTrailingBackslash(temp) + L"\\zv_startup_bench_store";
  const zv::IniFile settings = zv::Settings();
  settings.WriteString(L"Setting", L"StorePath", store);
  // Nothing listens there: no game of the bench may need the network.
  settings.WriteString(L"Server", L"StaticContent", L"http://127.0.0.1:9");
  for (int i = 0; i < kGames; ++i) PrepareGame(i, store);
  std::fflush(stdout);
  // One settling run writes what a first start writes; the timed runs then
  // see the steady state of a restart.
  if (RunChildProcess(L"--run " + std::to_wstring(kGames) + L" --quiet") != 0) return 1;
  for (int count : kSizes) {
    if (RunChildProcess(L"--run " + std::to_wstring(count)) != 0) return 1;
  }
  return 0;
}
