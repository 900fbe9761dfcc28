#include "setup/folder_walk.h"

#include <windows.h>

#include <functional>

#include "common/handles.h"
#include "common/text.h"

namespace zv {
namespace {

constexpr int kFolderRemoveTries = 10;
constexpr DWORD kFolderRemovePauseMs = 100;

std::wstring StripTrailingBackslashes(std::wstring path) {
  while (!path.empty() && path.back() == L'\\') path.pop_back();
  return path;
}

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

bool IsFolder(const WIN32_FIND_DATAW& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

bool IsLink(const WIN32_FIND_DATAW& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Calls visit for every entry of folder but "." and "..". False when the
// listing cannot start.
bool ForEachEntry(const std::wstring& folder, const std::function<void(const WIN32_FIND_DATAW&)>& visit) {
  WIN32_FIND_DATAW entry;
  UniqueFindHandle find(::FindFirstFileW((folder + L"\\*.*").c_str(), &entry));
  if (!find) return false;
  do {
    if (!IsDotEntry(entry.cFileName)) visit(entry);
  } while (::FindNextFileW(find.get(), &entry));
  return true;
}

void DeleteFileForcing(const std::wstring& path) {
  if (::DeleteFileW(path.c_str()) || ::GetLastError() != ERROR_ACCESS_DENIED) return;
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(path.c_str());
}

void DeleteUnlessKept(const std::wstring& folder, const WIN32_FIND_DATAW& entry, const KeptFileNames* keep) {
  if (keep && keep->Contains(entry.cFileName)) return;
  DeleteFileForcing(folder + L"\\" + entry.cFileName);
}

bool RemoveFolderWithRetries(const std::wstring& folder) {
  for (int attempt = 0; attempt < kFolderRemoveTries; ++attempt) {
    if (::RemoveDirectoryW(folder.c_str()) || ::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
      return true;
    }
    ::Sleep(kFolderRemovePauseMs);
  }
  return false;
}

}  // namespace

void KeptFileNames::Add(const std::wstring& name) {
  if (!name.empty() && !Contains(name)) names_.push_back(name);
}

bool KeptFileNames::Contains(const std::wstring& name) const {
  for (const std::wstring& kept : names_) {
    if (EqualsIgnoreCase(kept, name)) return true;
  }
  return false;
}

bool IsWalkablePath(const std::wstring& path) {
  // Judged on the resolved form too, so that "C:\x\.." cannot stand for a root.
  const std::wstring folder = StripTrailingBackslashes(path);
  if (folder.size() <= 3) return false;
  std::wstring full;
  const HRESULT hr = CallWithGrowingBuffer(full, [&folder](wchar_t* buffer, DWORD capacity, DWORD* length) {
    *length = ::GetFullPathNameW(folder.c_str(), capacity, buffer, nullptr);
    return *length == 0 ? HRESULT_FROM_WIN32(::GetLastError()) : S_OK;
  });
  return SUCCEEDED(hr) && StripTrailingBackslashes(full).size() > 3;
}

bool DeleteTree(const std::wstring& path, const KeptFileNames* keep) {
  if (!IsWalkablePath(path)) return false;
  const std::wstring folder = StripTrailingBackslashes(path);
  const bool listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    const std::wstring child = folder + L"\\" + entry.cFileName;
    if (!IsFolder(entry)) {
      DeleteUnlessKept(folder, entry, keep);
    } else if (!IsLink(entry)) {
      DeleteTree(child, keep);
    } else if (!keep) {
      ::RemoveDirectoryW(child.c_str());
    }
  });
  if (!listed) return false;
  if (keep) return true;
  return RemoveFolderWithRetries(folder);
}

bool ClearGameFolder(const std::wstring& path, const std::wstring& gameName, const KeptFileNames& keep) {
  if (!IsWalkablePath(path)) return false;
  const std::wstring folder = StripTrailingBackslashes(path);
  return ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    const std::wstring child = folder + L"\\" + entry.cFileName;
    if (!IsFolder(entry)) {
      DeleteUnlessKept(folder, entry, &keep);
    } else if (IsLink(entry)) {
      ::RemoveDirectoryW(child.c_str());
    } else if (EqualsIgnoreCase(entry.cFileName, gameName)) {
      ClearGameFolder(child, gameName, keep);
    } else {
      DeleteTree(child, nullptr);
    }
  });
}

bool RemoveTree(const std::wstring& folder) {
  if (!IsWalkablePath(folder)) return false;
  const std::wstring base = StripTrailingBackslashes(folder);
  const bool listed = ForEachEntry(base, [&](const WIN32_FIND_DATAW& entry) {
    const std::wstring child = base + L"\\" + entry.cFileName;
    if (!IsFolder(entry)) {
      ::DeleteFileW(child.c_str());
    } else if (IsLink(entry)) {
      ::RemoveDirectoryW(child.c_str());
    } else {
      RemoveTree(child);
    }
  });
  if (!listed) return false;
  ::RemoveDirectoryW(base.c_str());
  return true;
}

}  // namespace zv
