// A silent setup program for the setup tests. It reads its orders from the
// INI file beside itself ("<own path>.cfg", section [setup]) and, when started
// with "/s", writes files of known sizes one after another into its working
// folder, installs a copy of a given program as the game's start program,
// adds registry scripts that use "$HOME", optionally waits, and exits with the
// ordered code. Without "/s" it exits with 2 at once.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

namespace {

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

int ReadInt(const std::wstring& config, const wchar_t* key, int fallback) {
  return static_cast<int>(::GetPrivateProfileIntW(L"setup", key, fallback, config.c_str()));
}

std::wstring ReadText(const std::wstring& config, const wchar_t* key) {
  wchar_t text[1024] = {};
  ::GetPrivateProfileStringW(L"setup", key, L"", text, 1024, config.c_str());
  return text;
}

bool HasSilentSwitch() {
  int count = 0;
  LPWSTR* arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  bool silent = false;
  for (int i = 1; i < count; ++i) silent = silent || lstrcmpiW(arguments[i], L"/s") == 0;
  ::LocalFree(arguments);
  return silent;
}

void CreateFolders(const std::wstring& path) {
  for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
  }
  ::CreateDirectoryW(path.c_str(), nullptr);
}

// Writes size bytes in four pieces, as an installer copying a file would.
void WriteFileInPieces(const std::wstring& path, int size) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::vector<char> piece(static_cast<size_t>(size / 4 + 1), 'x');
  int left = size;
  while (left > 0) {
    const DWORD chunk = static_cast<DWORD>(left < static_cast<int>(piece.size()) ? left : piece.size());
    DWORD written = 0;
    ::WriteFile(file, piece.data(), chunk, &written, nullptr);
    ::FlushFileBuffers(file);
    left -= static_cast<int>(chunk);
  }
  ::CloseHandle(file);
}

void WriteAnsi(const std::wstring& path, const std::string& text) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);
}

void WriteRegistryScripts(const std::wstring& gameFolder, const std::string& key) {
  CreateFolders(gameFolder + L"\\GameReg");
  WriteAnsi(gameFolder + L"\\GameReg\\game.reg.reg",
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\" + key +
                "]\r\n"
                "\"Path\"=\"$HOME\\\\game.exe\"\r\n"
                "\"Expand\"=hex(2):24,00,48,00,4f,00,4d,00,45,00,5c,00,62,00,00,00\r\n"
                "\"Profile\"=\"$MY\"\r\n"
                "\"Drive\"=\"$C\"\r\n");
  WriteAnsi(gameFolder + L"\\GameReg\\gameUninst.reg.reg",
            "Windows Registry Editor Version 5.00\r\n\r\n[-HKEY_CURRENT_USER\\" + key + "]\r\n");
}

// Sleeps up to ms, ending early when "<own path>.stop" appears.
void Hold(const std::wstring& self, int ms) {
  const std::wstring stop = self + L".stop";
  for (int waited = 0; waited < ms; waited += 50) {
    if (::GetFileAttributesW(stop.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    ::Sleep(50);
  }
}

}  // namespace

int wmain() {
  if (!HasSilentSwitch()) return 2;
  const std::wstring self = OwnPath();
  const std::wstring config = self + L".cfg";
  wchar_t current[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, current);
  const std::wstring gameFolder = std::wstring(current) + L"\\" + ReadText(config, L"folder");

  CreateFolders(gameFolder);
  const int files = ReadInt(config, L"files", 0);
  const int size = ReadInt(config, L"size", 0);
  const int pauseMs = ReadInt(config, L"pauseMs", 0);
  for (int i = 0; i < files; ++i) {
    WriteFileInPieces(gameFolder + L"\\data" + std::to_wstring(i) + L".bin", size);
    ::Sleep(static_cast<DWORD>(pauseMs));
  }
  // The game's start program: a copy of "programFrom" named "program".
  const std::wstring program = ReadText(config, L"program");
  if (!program.empty()) {
    ::CopyFileW(ReadText(config, L"programFrom").c_str(), (gameFolder + L"\\" + program).c_str(), FALSE);
  }
  const std::wstring key = ReadText(config, L"regKey");
  if (!key.empty()) {
    std::string narrowKey(key.begin(), key.end());
    WriteRegistryScripts(gameFolder, narrowKey);
  }
  Hold(self, ReadInt(config, L"holdMs", 0));
  return ReadInt(config, L"exit", 0);
}
