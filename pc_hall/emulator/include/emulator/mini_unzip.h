// Single-call ZIP extraction for emulator archives, over minizip. Every entry
// lands strictly below the target folder: entries named with a drive, a
// leading slash or backslash, or "." and ".." segments are refused and never
// written. Entry names are UTF-8 when the archive flags them so, otherwise in
// the DOS (OEM) code page the ZIP format uses. Blocking; any thread.
#pragma once

namespace zv {

enum MiniUnzipResult : int {
  kUnzipOk = 0,
  kUnzipCannotOpen = 1,     // missing arguments, or the archive cannot be read
  kUnzipRefusedEntry = 2,   // an entry would land outside the target; it was skipped
  kUnzipEntryFailed = 3,    // an entry could not be read or written
};

// Extracts every entry of zipFile, with its folders, below targetFolder (which
// ends with a backslash). Both paths are in the thread's ANSI code page.
// The other entries are still extracted when one is refused or fails; the
// answer names the first problem met, kUnzipOk when there was none.
int mini_unzip_dll(const char* zipFile, const char* targetFolder);

}  // namespace zv
