#include "emulator/mini_unzip.h"

#include <windows.h>

#include <unzip.h>
// iowin32.h relies on the declarations unzip.h brings in.
#include <iowin32.h>

#include <string>
#include <vector>

#include "common/handles.h"
#include "common/locations.h"
#include "common/text.h"
#include "common/trace.h"

namespace zv {
namespace {

constexpr uLong kUtf8NameFlag = 1u << 11;
constexpr size_t kMaxEntryNameBytes = 4096;
constexpr unsigned kCopyChunkBytes = 64 * 1024;

class UnzipArchive {
 public:
  explicit UnzipArchive(unzFile file) : file_(file) {}
  ~UnzipArchive() {
    if (file_) unzClose(file_);
  }
  UnzipArchive(const UnzipArchive&) = delete;
  UnzipArchive& operator=(const UnzipArchive&) = delete;
  unzFile get() const { return file_; }

 private:
  unzFile file_;
};

std::wstring FullPath(const std::wstring& path) {
  std::wstring full;
  CallWithGrowingBuffer(full, [&path](wchar_t* buffer, DWORD capacity, DWORD* length) {
    *length = ::GetFullPathNameW(path.c_str(), capacity, buffer, nullptr);
    return *length == 0 ? HRESULT_FROM_WIN32(::GetLastError()) : S_OK;
  });
  return full;
}

// A segment Windows would store under another name (trailing dots or
// blanks are dropped), or one that climbs ("." and "..").
bool IsUnsafeSegment(const std::wstring& segment) {
  if (segment.empty()) return false;
  const wchar_t last = segment.back();
  return last == L'.' || last == L' ';
}

// The entry's relative path with backslashes, or empty when the name could
// reach outside the target (drive, stream colon, rooted, dot segments).
std::wstring SafeRelativePath(const std::wstring& name) {
  if (name.empty() || name[0] == L'/' || name[0] == L'\\') return std::wstring();
  for (wchar_t ch : name) {
    if (ch == L':' || ch < 0x20) return std::wstring();
  }
  std::wstring relative;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of(L"/\\", start);
    if (end == std::wstring::npos) end = name.size();
    const std::wstring segment = name.substr(start, end - start);
    if (IsUnsafeSegment(segment)) return std::wstring();
    if (!segment.empty()) {
      if (!relative.empty()) relative += L'\\';
      relative += segment;
    }
    start = end + 1;
  }
  return relative;
}

bool IsBelow(const std::wstring& path, const std::wstring& folderWithBackslash) {
  const std::wstring full = FullPath(path);
  return full.size() > folderWithBackslash.size() &&
         EqualsIgnoreCase(full.substr(0, folderWithBackslash.size()), folderWithBackslash);
}

bool CopyCurrentEntry(unzFile archive, const std::wstring& path) {
  const size_t slash = path.find_last_of(L'\\');
  if (slash != std::wstring::npos && FAILED(CreateFolderTree(path.substr(0, slash)))) return false;
  if (unzOpenCurrentFile(archive) != UNZ_OK) return false;
  UniqueFile out(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                               nullptr));
  bool ok = out.valid();
  std::vector<char> chunk(kCopyChunkBytes);
  while (ok) {
    const int read = unzReadCurrentFile(archive, chunk.data(), kCopyChunkBytes);
    if (read <= 0) {
      ok = read == 0;
      break;
    }
    DWORD written = 0;
    ok = ::WriteFile(out.get(), chunk.data(), static_cast<DWORD>(read), &written, nullptr) &&
         written == static_cast<DWORD>(read);
  }
  // A CRC mismatch is reported when the entry is closed.
  const bool closedCleanly = unzCloseCurrentFile(archive) == UNZ_OK;
  return ok && closedCleanly;
}

int ExtractCurrentEntry(unzFile archive, const std::wstring& target) {
  unz_file_info64 info = {};
  std::vector<char> rawName(kMaxEntryNameBytes + 1, '\0');
  if (unzGetCurrentFileInfo64(archive, &info, rawName.data(), kMaxEntryNameBytes, nullptr, 0, nullptr, 0) != UNZ_OK ||
      info.size_filename > kMaxEntryNameBytes) {
    return kUnzipEntryFailed;
  }
  const std::string narrowName(rawName.data(), info.size_filename);
  const std::wstring name = FromCodePage(narrowName, (info.flag & kUtf8NameFlag) ? CP_UTF8 : CP_OEMCP);
  const std::wstring relative = SafeRelativePath(name);
  const std::wstring path = target + relative;
  if (relative.empty() || !IsBelow(path, target)) {
    Trace(L"mini_unzip_dll: refused entry \"%ls\"", name.c_str());
    return kUnzipRefusedEntry;
  }
  const bool isFolder = name.back() == L'/' || name.back() == L'\\';
  if (isFolder) return SUCCEEDED(CreateFolderTree(path)) ? kUnzipOk : kUnzipEntryFailed;
  return CopyCurrentEntry(archive, path) ? kUnzipOk : kUnzipEntryFailed;
}

}  // namespace

int mini_unzip_dll(const char* zipFile, const char* targetFolder) {
  if (!zipFile || !targetFolder || !*zipFile || !*targetFolder) return kUnzipCannotOpen;
  const std::wstring archivePath = FromCodePage(zipFile);
  const std::wstring target = RemoveTrailingBackslash(FullPath(FromCodePage(targetFolder))) + L"\\";
  if (target.size() <= 1 || FAILED(CreateFolderTree(target))) return kUnzipCannotOpen;

  zlib_filefunc64_def files;
  fill_win32_filefunc64W(&files);
  UnzipArchive archive(unzOpen2_64(archivePath.c_str(), &files));
  if (!archive.get()) return kUnzipCannotOpen;

  int result = kUnzipOk;
  int step = unzGoToFirstFile(archive.get());
  while (step == UNZ_OK) {
    const int entryResult = ExtractCurrentEntry(archive.get(), target);
    if (result == kUnzipOk) result = entryResult;
    step = unzGoToNextFile(archive.get());
  }
  if (step != UNZ_END_OF_LIST_OF_FILE && result == kUnzipOk) result = kUnzipEntryFailed;
  return result;
}

}  // namespace zv
