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

// Two client parts, as larger games come: the setup program and an archive.
std::string GameXml(const std::wstring& id) {
  const std::string narrowId = zv::ToUtf8(id);
  const std::string part =
      "      <fileUrl>ZVURL1EkDu2FEdW8s=</fileUrl>\n      <startupFile>start.exe</startupFile>\n";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<game" + narrowId + " name=\"Game" + narrowId +
         "\">\n  <clients>\n    <MD5-0123456789abcdef0123456789abcdef>\n" + part +
         "    </MD5-0123456789abcdef0123456789abcdef>\n    <MD5-fedcba9876543210fedcba9876543210>\n" + part +
         "    </MD5-fedcba9876543210fedcba9876543210>\n  </clients>\n</game" + narrowId + ">\n";
}

// The states a box's games are in at a restart, each with the files that
// back it, out of every 50 games.
enum class Kind { kInstalled, kPartlyDownloaded, kDownloadStarted, kDownloaded };

Kind KindOf(int index) {
  const int slot = index % 50;
  if (slot < 25) return Kind::kInstalled;         // start program present
  if (slot < 35) return Kind::kPartlyDownloaded;  // paused: setup program present, archive missing
  if (slot < 49) return Kind::kDownloadStarted;   // paused before a part finished
  return Kind::kDownloaded;                       // both parts present, setup not run: it starts again
}

// Writes what the hall itself writes for the game's state, through the same
// INI functions, and the files that back that state.
void PrepareGame(int index, const std::wstring& store) {
  const std::wstring id = GameId(index);
  const std::wstring name = L"Game" + id;
  const std::wstring folder = zv::ProductFolder() + L"\\" + id;
  const std::wstring setup = store + L"\\Download\\" + id + L"\\" + id + L"_0.exe";
  const std::wstring archive = store + L"\\Download\\" + id + L"\\" + id + L"_1.rar";
  const std::wstring program = store + L"\\Games\\" + name + L"\\" + name + L"\\start.exe";
  WriteText(folder + L"\\game.xml", GameXml(id));
  const zv::IniFile config(folder + L"\\config.ini");
  config.WriteString(L"config", L"detail", folder + L"\\game.xml");
  config.WriteString(L"config", L"startup", program);
  config.WriteString(L"config", L"setup", setup);
  switch (KindOf(index)) {
    case Kind::kInstalled:
      WriteText(program, "MZ");
      config.WriteInt(L"config", L"state", 6);
      config.WriteInt(L"download", L"progress", 100);
      break;
    case Kind::kPartlyDownloaded:
      WriteText(setup, "MZ");
      config.WriteInt(L"config", L"state", 3);
      config.WriteInt(L"download", L"progress", 40);
      break;
    case Kind::kDownloadStarted:
      config.WriteInt(L"config", L"state", 3);
      config.WriteInt(L"download", L"progress", 15);
      break;
    case Kind::kDownloaded:
      // No real program: its run fails at once, and the game starts it again
      // at every restart, as one whose setup was cut short does.
      WriteText(setup, "MZ");
      WriteText(archive, "Rar!");
      config.WriteInt(L"config", L"state", 4);
      config.WriteInt(L"download", L"progress", 100);
      break;
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
