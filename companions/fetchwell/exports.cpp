// Fetchwell.dll's exports: the download manager's static members, each a
// boundary that no exception crosses.
#include "common/hresult.h"
#include "engine.h"

using zv::fetchwell::Engine;

int CFileDownloadManager::DownloadFile(FileDownloadEvent* sink, const FileDownloadSetting* setting) {
  int result = -1;
  zv::GuardBoundary([&] {
    result = Engine::Instance().Start(sink, setting);
    return S_OK;
  });
  return result;
}

int CFileDownloadManager::CancelDownloadFile(const char* url) {
  int result = -1;
  zv::GuardBoundary([&] {
    result = Engine::Instance().Cancel(url);
    return S_OK;
  });
  return result;
}

int CFileDownloadManager::Uninit() {
  int result = -1;
  zv::GuardBoundary([&] {
    result = Engine::Instance().Shutdown();
    return S_OK;
  });
  return result;
}
