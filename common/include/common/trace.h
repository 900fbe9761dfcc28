// Debug trace lines to an outside viewer that owns a top-level window titled
// "DbgView": each line goes by WM_SETTEXT with wParam = our process id. The
// buffer and the cached window handle are process-wide and unguarded: trace
// from the thread that owns the hall object or the launcher's main thread.
#pragma once

namespace zv {

// Lines longer than 511 characters are cut to fit the 512-unit buffer.
constexpr int kTraceBufferUnits = 512;

int Trace(const wchar_t* format, ...);

}  // namespace zv
