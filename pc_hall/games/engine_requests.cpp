#include "engine_requests.h"

#include <windows.h>

#include <mutex>

namespace ostrelle {
namespace {

void PinThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinThisModule), &module);
}

}  // namespace

int RequestDownload(FileDownloadEvent* sink, const FileDownloadSetting& setting) {
  static std::once_flag pinned;
  std::call_once(pinned, PinThisModule);
  return CFileDownloadManager::DownloadFile(sink, &setting);
}

}  // namespace ostrelle
