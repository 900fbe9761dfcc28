#include "setup/registry_script.h"

#include <shlobj.h>

#include <array>
#include <cwchar>

#include "common/handles.h"
#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"
#include "setup/shell_run.h"

namespace zv {
namespace {

// Scripts are small text files; anything larger is not a script.
constexpr DWORD kMaxScriptBytes = 16u << 20;
constexpr wchar_t kUnicodeHeader[] = L"Windows Registry Editor Version 5.00";

std::wstring StripTrailingSeparators(std::wstring path) {
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

std::wstring EscapeForRegString(const std::wstring& value) {
  std::wstring out;
  out.reserve(value.size() + 8);
  for (wchar_t ch : value) {
    if (ch == L'\\' || ch == L'"') out += L'\\';
    out += ch;
  }
  return out;
}

struct Placeholder {
  std::wstring plainName;
  std::wstring hexName;
  std::wstring plainValue;
  std::wstring hexValue;
};

bool MatchesAt(const std::wstring& text, size_t at, const std::wstring& what) {
  return !what.empty() && text.compare(at, what.size(), what) == 0;
}

// An empty value leaves no bytes; its comma goes with it so the list stays valid.
void AppendHexValue(std::wstring& out, const std::wstring& text, size_t* next, const std::wstring& hex) {
  if (!hex.empty()) {
    out += hex;
  } else if (*next < text.size() && text[*next] == L',') {
    ++*next;
  } else if (!out.empty() && out.back() == L',') {
    out.pop_back();
  }
}

// Scripts are ANSI text; one saved by regedit itself carries a UTF-16LE byte
// order mark and is read as such.
std::wstring DecodeScript(const std::string& bytes) {
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
  }
  return FromCodePage(bytes);
}

// Scripts with the version 5 header are written in UTF-16LE with a byte
// order mark, regedit's own encoding for them: their hex(2) and hex(7) bytes
// are UTF-16LE (as the hex form of the placeholders is), and a folder outside
// the ANSI code page keeps every character. Older scripts stay ANSI.
std::string EncodeScript(const std::wstring& text) {
  if (text.compare(0, std::wcslen(kUnicodeHeader), kUnicodeHeader) != 0) return ToCodePage(text);
  std::string bytes("\xFF\xFE", 2);
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
  return bytes;
}

HRESULT WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
  RETURN_LAST_ERROR_IF(!file);
  DWORD written = 0;
  RETURN_IF_WIN32_BOOL_FALSE(
      ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  RETURN_HR_IF(E_FAIL, written != bytes.size());
  return S_OK;
}

}  // namespace

std::wstring Utf16HexText(const std::wstring& value) {
  std::wstring out;
  out.reserve(value.size() * 12);
  wchar_t pair[8];
  for (wchar_t unit : value) {
    const unsigned code = static_cast<unsigned>(unit) & 0xFFFFu;
    std::swprintf(pair, 8, L"%02x,%02x,", code & 0xFFu, code >> 8);
    out += pair;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

ScriptValues CurrentScriptValues(const std::wstring& gameFolder) {
  ScriptValues values;
  values.home = StripTrailingSeparators(gameFolder);
  values.profile = StripTrailingSeparators(GetSpecialFolder(CSIDL_PROFILE));
  wchar_t windows[MAX_PATH] = {};
  const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
  if (length >= 2 && length < MAX_PATH) values.drive.assign(windows, 2);
  return values;
}

std::wstring RegistryScriptPath(const std::wstring& folder, RegistryScriptKind kind) {
  const std::wstring base = StripTrailingSeparators(folder) + L"\\";
  const bool install = kind == RegistryScriptKind::kInstall;
  const std::wstring primary = base + (install ? L"GameReg/game.reg.reg" : L"GameReg/gameUninst.reg.reg");
  if (PathExists(primary)) return primary;
  return base + (install ? L"RavelinGameReg/ravelingame.reg.reg" : L"RavelinGameReg/ravelingameUninst.reg.reg");
}

std::wstring SubstituteScriptPlaceholders(const std::wstring& text, const ScriptValues& values) {
  const std::array<Placeholder, 3> placeholders = {{
      {L"$HOME", Utf16HexText(L"$HOME"), EscapeForRegString(values.home), Utf16HexText(values.home)},
      {L"$MY", Utf16HexText(L"$MY"), EscapeForRegString(values.profile), Utf16HexText(values.profile)},
      {L"$C", Utf16HexText(L"$C"), EscapeForRegString(values.drive), Utf16HexText(values.drive)},
  }};
  std::wstring out;
  out.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    bool replaced = false;
    for (const Placeholder& placeholder : placeholders) {
      if (MatchesAt(text, at, placeholder.plainName)) {
        out += placeholder.plainValue;
        at += placeholder.plainName.size();
      } else if (MatchesAt(text, at, placeholder.hexName)) {
        at += placeholder.hexName.size();
        AppendHexValue(out, text, &at, placeholder.hexValue);
      } else {
        continue;
      }
      replaced = true;
      break;
    }
    if (!replaced) out += text[at++];
  }
  return out;
}

HRESULT ImportRegistryScript(const std::wstring& folder, RegistryScriptKind kind, HANDLE stopEvent) {
  const std::wstring script = RegistryScriptPath(folder, kind);
  std::string source;
  if (FAILED(ReadWholeFile(script, kMaxScriptBytes, &source)) || source.empty()) return S_FALSE;
  const std::wstring text =
      SubstituteScriptPlaceholders(DecodeScript(source), CurrentScriptValues(folder));
  const std::wstring written = script + L".reg";
  RETURN_IF_FAILED(WriteWholeFile(written, EncodeScript(text)));
  UniqueHandle regedit;
  RETURN_IF_FAILED(ShellStartHidden(L"regedit.exe", L"/s \"" + written + L"\"", L"", &regedit));
  RETURN_IF_FAILED(WaitForProcessOrStop(regedit.get(), stopEvent));
  return S_OK;
}

}  // namespace zv
