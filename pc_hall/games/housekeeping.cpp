#include "housekeeping.h"

#include <windows.h>

#include "common/handles.h"
#include "common/text.h"

namespace ostrelle {
namespace {

std::wstring ParentOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring LastComponent(const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool RemoveTree(const std::wstring& folder) {
  if (folder.size() <= 3) return false;
  const std::wstring base = folder.back() == L'\\' ? folder : folder + L"\\";
  WIN32_FIND_DATAW entry;
  zv::UniqueFindHandle listing(::FindFirstFileW((base + L"*.*").c_str(), &entry));
  if (!listing) return false;
  do {
    const std::wstring name = entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (name != L"." && name != L"..") RemoveTree(base + name);
    } else {
      ::DeleteFileW((base + name).c_str());
    }
  } while (::FindNextFileW(listing.get(), &entry));
  listing.reset();
  ::RemoveDirectoryW(base.c_str());
  return true;
}

std::wstring InstalledGameFolder(const std::wstring& startupPath) {
  // <store>\Games\<name>\<name>\<start file>, the start file possibly in subfolders.
  std::wstring folder = ParentOf(startupPath);
  while (!folder.empty()) {
    const std::wstring parent = ParentOf(folder);
    if (LastComponent(parent).empty()) return std::wstring();
    if (zv::EqualsIgnoreCase(LastComponent(folder), LastComponent(parent)) &&
        zv::EqualsIgnoreCase(LastComponent(ParentOf(parent)), L"Games")) {
      return parent;
    }
    folder = parent;
  }
  return std::wstring();
}

}  // namespace ostrelle
