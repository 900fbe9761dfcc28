#include "download_paths.h"

#include <wininet.h>

#include <cstdint>
#include <cwchar>
#include <cwctype>

#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"

namespace zv::fetchwell {
namespace {

constexpr size_t kMaxNameLength = 120;
constexpr int kMaxUniqueTries = 9999;

int HexValue(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Percent-decodes as UTF-8; text that does not decode cleanly stays as is.
std::wstring PercentDecode(const std::wstring& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else if (text[i] < 0x80) {
      bytes.push_back(static_cast<char>(text[i]));
    } else {
      return text;
    }
  }
  const int needed = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                           static_cast<int>(bytes.size()), nullptr, 0);
  return needed > 0 ? FromUtf8(bytes) : text;
}

bool IsReservedDeviceName(const std::wstring& name) {
  std::wstring stem = name.substr(0, name.find(L'.'));
  for (auto& c : stem) c = static_cast<wchar_t>(std::towupper(c));
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"COM1", L"COM2", L"COM3",
                                            L"COM4", L"LPT1", L"LPT2", L"LPT3"};
  for (const wchar_t* device : kDevices) {
    if (stem == device) return true;
  }
  return false;
}

std::wstring SanitizeFileName(std::wstring name) {
  for (auto& c : name) {
    if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|", c)) c = L'_';
  }
  if (name.size() > kMaxNameLength) name.erase(0, name.size() - kMaxNameLength);
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  while (!name.empty() && name.front() == L' ') name.erase(0, 1);
  if (name.empty()) return L"download";
  if (IsReservedDeviceName(name)) name.insert(0, L"_");
  return name;
}

std::wstring UrlHash(const std::wstring& url) {
  uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : url) {
    hash ^= static_cast<uint16_t>(c);
    hash *= 1099511628211ull;
  }
  return Format(L"%08x", static_cast<unsigned>(hash ^ (hash >> 32)));
}

std::wstring FullPath(const std::wstring& path) {
  std::wstring full;
  const HRESULT hr = CallWithGrowingBuffer(full, [&](wchar_t* buffer, DWORD capacity, DWORD* length) {
    const DWORD written = ::GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
    if (written == 0) return HResultFromLastError();
    *length = written < capacity ? written : written - 1;
    return S_OK;
  });
  return SUCCEEDED(hr) ? full : std::wstring();
}

std::wstring UniqueCandidate(const std::wstring& target, int number) {
  const size_t slash = target.find_last_of(L'\\');
  const size_t dot = target.find_last_of(L'.');
  const size_t split = (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash + 1))
                           ? dot
                           : target.size();
  return target.substr(0, split) + Format(L" (%d)", number) + target.substr(split);
}

}  // namespace

std::wstring EngineDownloadFolder() {
  wchar_t base[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  return CombinePath(RemoveTrailingBackslash(base), L"Fetchwell");
}

std::wstring FileNameFromUrl(const std::wstring& url) {
  URL_COMPONENTSW parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwUrlPathLength = 1;
  std::wstring path;
  if (::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) && parts.lpszUrlPath) {
    path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  }
  path = path.substr(0, path.find_first_of(L"?#"));
  const size_t slash = path.find_last_of(L'/');
  return SanitizeFileName(PercentDecode(slash == std::wstring::npos ? path : path.substr(slash + 1)));
}

HRESULT ResolveDownloadPaths(const std::wstring& url, const std::wstring& savePath, DownloadPaths* out) {
  DownloadPaths paths;
  if (savePath.empty()) {
    const std::wstring folder = EngineDownloadFolder();
    RETURN_HR_IF(E_FAIL, folder.empty());
    const std::wstring name = FileNameFromUrl(url);
    paths.target = CombinePath(folder, name);
    paths.temp = CombinePath(folder, name + L"." + UrlHash(url) + kTempSuffix);
    paths.alwaysUnique = true;
  } else {
    std::wstring full = FullPath(savePath);
    RETURN_HR_IF(E_INVALIDARG, full.empty());
    if (full.back() == L'\\') full += FileNameFromUrl(url);
    paths.target = full;
    paths.temp = full + kTempSuffix;
  }
  *out = std::move(paths);
  return S_OK;
}

HRESULT PlaceFinishedFile(const std::wstring& temp, const std::wstring& target, bool replace,
                          std::wstring* finalPath) {
  RETURN_IF_FAILED(CreateFolderTree(zv::FolderOf(target)));
  if (replace) {
    RETURN_IF_WIN32_BOOL_FALSE(::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
    *finalPath = target;
    return S_OK;
  }
  for (int number = 1; number <= kMaxUniqueTries; ++number) {
    const std::wstring candidate = number == 1 ? target : UniqueCandidate(target, number);
    if (::MoveFileExW(temp.c_str(), candidate.c_str(), 0)) {
      *finalPath = candidate;
      return S_OK;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS && error != ERROR_ACCESS_DENIED) {
      return HRESULT_FROM_WIN32(error);
    }
  }
  return HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
}

}  // namespace zv::fetchwell
