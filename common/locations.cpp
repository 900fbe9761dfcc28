#include "common/locations.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "common/handles.h"
#include "common/hresult.h"
#include "common/settings.h"
#include "common/text.h"
#include "common/trace.h"

namespace zv {
namespace {

std::wstring ModulePath(HMODULE module) {
  std::wstring path;
  CallWithGrowingBuffer(path, [module](wchar_t* buffer, DWORD capacity, DWORD* length) {
    *length = ::GetModuleFileNameW(module, buffer, capacity);
    return *length == 0 ? HRESULT_FROM_WIN32(::GetLastError()) : S_OK;
  });
  return path;
}

std::wstring CombineRelative(const std::wstring& base, const std::wstring& relative) {
  // PathCombineW works on MAX_PATH buffers; longer results are refused there,
  // so fall back to canonicalising the concatenation ourselves.
  wchar_t combined[MAX_PATH] = {};
  if (::PathCombineW(combined, base.c_str(), relative.c_str())) return combined;
  std::wstring joined = base + L"\\" + relative;
  std::wstring out;
  CallWithGrowingBuffer(out, [&joined](wchar_t* buffer, DWORD capacity, DWORD* length) {
    *length = ::GetFullPathNameW(joined.c_str(), capacity, buffer, nullptr);
    return *length == 0 ? HRESULT_FROM_WIN32(::GetLastError()) : S_OK;
  });
  return out;
}

}  // namespace

HMODULE CurrentModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&CurrentModule), &module);
  return module;
}

std::wstring ProgramFilePath(const std::wstring& relative) {
  return CombineRelative(ModulePath(nullptr), relative);
}

std::wstring ModuleFilePath(HMODULE module, const std::wstring& relative) {
  return CombineRelative(ModulePath(module), relative);
}

std::wstring SettingsFilePath() { return ProgramFilePath(L"..\\MD.cfg"); }

std::wstring GetSpecialFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, 0, path))) return {};
  return path;
}

std::wstring AppDataFolder() { return GetSpecialFolder(CSIDL_APPDATA); }

std::wstring ProductFolder() {
  return RemoveTrailingBackslash(AppDataFolder()) + L"\\Zorvanix\\GameManager";
}

std::wstring ConfigFolder() { return ProductFolder() + L"\\Config"; }

std::wstring RemoveTrailingBackslash(std::wstring path) {
  // A drive root keeps its backslash ("C:\"), as PathRemoveBackslash does.
  while (!path.empty() && path.back() == L'\\' && !(path.size() == 3 && path[1] == L':')) {
    path.pop_back();
  }
  return path;
}

std::wstring CombinePath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  if (folder.back() == L'\\' || folder.back() == L'/') return folder + name;
  return folder + L"\\" + name;
}

bool PathExists(const std::wstring& path) {
  return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const std::wstring& path) {
  const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

HRESULT ReadWholeFile(const std::wstring& path, size_t maxBytes, std::string* bytes) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  RETURN_LAST_ERROR_IF(!file);
  LARGE_INTEGER size = {};
  RETURN_IF_WIN32_BOOL_FALSE(::GetFileSizeEx(file.get(), &size));
  RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), static_cast<unsigned long long>(size.QuadPart) > maxBytes);
  bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes->empty()) {
    RETURN_IF_WIN32_BOOL_FALSE(::ReadFile(file.get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &read, nullptr));
  }
  bytes->resize(read);
  return S_OK;
}

HRESULT CreateFolderTree(const std::wstring& path) {
  std::wstring folder = RemoveTrailingBackslash(path);
  if (folder.empty()) return E_INVALIDARG;
  if (PathExists(folder)) return S_OK;
  const size_t slash = folder.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0) {
    const std::wstring parent = folder.substr(0, slash);
    // Stop at a drive ("C:") or a share root; CreateDirectory reports anything wrong there.
    if (!(parent.size() == 2 && parent[1] == L':') && !PathExists(parent)) {
      const HRESULT hr = CreateFolderTree(parent);
      if (FAILED(hr)) return hr;
    }
  }
  if (!::CreateDirectoryW(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  return S_OK;
}

std::wstring ResolveStorePath() {
  const std::wstring configured = Settings().ReadString(L"Setting", L"StorePath", L"");
  if (configured.empty()) return {};
  if (!PathExists(configured)) CreateFolderTree(configured);
  return RemoveTrailingBackslash(configured);
}

std::wstring ResolveWebGamePath() {
  Trace(L"MMMMM----进入GetMyWebGamePath");
  return ResolveStorePath() + L"\\MyWebGame";
}

bool IsVistaOrLater() {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = 6;
  version.dwMinorVersion = 0;
  DWORDLONG condition = 0;
  condition = ::VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
  condition = ::VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
  return ::VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION, condition) != FALSE;
}

}  // namespace zv
