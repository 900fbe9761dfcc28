// Starting an installed game's program and telling whether it still runs.
// Nothing waits for a started game: its process id is kept and checked
// against a process snapshot at the next start. Not thread-safe: one owner
// (the game item) uses it from the thread that drives the game.
#pragma once

#include <windows.h>

#include <string>

namespace zv {

// Whether a process with this id exists; also true when no snapshot can be
// taken, so an unknown state never starts a second copy.
bool IsProcessRunning(DWORD processId);

class GameProcess {
 public:
  // What the start buffers hold: characters of the command line and of the
  // working folder, terminator excluded.
  static constexpr size_t kMaxCommandLine = 1023;
  static constexpr size_t kMaxWorkingFolder = 259;

  // True when a game was started and its process still exists.
  bool IsRunning() const;

  // Starts "<startupPath> <arguments>" (the path quoted when it holds a
  // blank) in the startup program's folder, a
  // ".bat" program with a hidden window, and records its process id.
  // S_FALSE, starting nothing, while the game started last still runs.
  // E_INVALIDARG for an empty startup path; ERROR_FILENAME_EXCED_RANGE when
  // the command line or the folder would not fit. Nothing is recorded on
  // failure.
  HRESULT Start(const std::wstring& startupPath, const std::wstring& arguments);

  DWORD processId() const { return processId_; }

 private:
  DWORD processId_ = 0;
};

}  // namespace zv
