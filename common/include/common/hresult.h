// HRESULT vocabulary: early-return macros and the guard every COM method,
// window procedure, thread entry and DLL export uses so that no C++ exception
// crosses the boundary.
#pragma once

#include <windows.h>

#include <new>

namespace zv {

// The last Win32 error as an HRESULT; E_FAIL when the call set none.
inline HRESULT HResultFromLastError() noexcept {
  const DWORD error = ::GetLastError();
  return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// Runs body and turns any escaping exception into an HRESULT.
template <typename Body>
HRESULT GuardBoundary(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace zv

#define RETURN_IF_FAILED(expr)                 \
  do {                                         \
    const HRESULT zvHr_ = (expr);              \
    if (FAILED(zvHr_)) return zvHr_;           \
  } while (0)

#define RETURN_HR_IF(hr, condition) \
  do {                              \
    if (condition) return (hr);     \
  } while (0)

#define RETURN_IF_NULL_ALLOC(ptr)          \
  do {                                     \
    if ((ptr) == nullptr) return E_OUTOFMEMORY; \
  } while (0)

#define RETURN_IF_WIN32_BOOL_FALSE(expr)                    \
  do {                                                      \
    if (!(expr)) return ::zv::HResultFromLastError();       \
  } while (0)

#define RETURN_LAST_ERROR_IF(condition)                     \
  do {                                                      \
    if (condition) return ::zv::HResultFromLastError();     \
  } while (0)

#define RETURN_IF_WIN32_ERROR(expr)                         \
  do {                                                      \
    const LONG zvError_ = static_cast<LONG>(expr);          \
    if (zvError_ != ERROR_SUCCESS) return HRESULT_FROM_WIN32(zvError_); \
  } while (0)
