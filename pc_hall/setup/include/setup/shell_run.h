// Starting helper programs hidden through the shell and waiting for them.
// Blocking calls; safe on any thread (each call initialises COM for itself
// where the shell needs it).
#pragma once

#include <windows.h>

#include <string>

#include "common/handles.h"

namespace zv {

// Starts file with the verb "open", the given parameters and working folder,
// hidden, and hands back its process handle. Fails when the shell gives no
// process handle.
HRESULT ShellStartHidden(const std::wstring& file, const std::wstring& parameters,
                         const std::wstring& workingFolder, UniqueHandle* process);

// Waits for process to end or, when stopEvent is given, for stopEvent to be
// signalled. S_OK: the process ended; S_FALSE: stopEvent ended the wait.
HRESULT WaitForProcessOrStop(HANDLE process, HANDLE stopEvent);

}  // namespace zv
