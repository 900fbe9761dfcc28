#include "setup/shell_run.h"

#include <objbase.h>
#include <shellapi.h>

#include "common/hresult.h"

namespace zv {

HRESULT ShellStartHidden(const std::wstring& file, const std::wstring& parameters,
                         const std::wstring& workingFolder, UniqueHandle* process) {
  // The shell may hand the start to COM objects; they want an apartment.
  const HRESULT comHr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.lpDirectory = workingFolder.empty() ? nullptr : workingFolder.c_str();
  info.nShow = SW_HIDE;
  const BOOL started = ::ShellExecuteExW(&info);
  const DWORD error = ::GetLastError();
  if (SUCCEEDED(comHr)) ::CoUninitialize();
  if (!started) return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
  RETURN_HR_IF(E_FAIL, info.hProcess == nullptr);
  process->reset(info.hProcess);
  return S_OK;
}

HRESULT WaitForProcessOrStop(HANDLE process, HANDLE stopEvent) {
  const HANDLE handles[] = {process, stopEvent};
  const DWORD count = stopEvent ? 2 : 1;
  const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
  if (result == WAIT_OBJECT_0) return S_OK;
  if (result == WAIT_OBJECT_0 + 1) return S_FALSE;
  return HResultFromLastError();
}

}  // namespace zv
