// wininet_reference URL SAVEPATH
// The plain single-stream WinINet reader the engine is measured against:
// InternetOpenUrl, InternetReadFile into a 1 MiB buffer, WriteFile.
// Prints "status=2 size=<bytes> ms=<elapsed>"; exit code 0 on success.
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <vector>

#include "common/handles.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: wininet_reference URL SAVEPATH\n");
    return 2;
  }
  const ULONGLONG start = ::GetTickCount64();
  zv::UniqueInternet session(
      ::InternetOpenW(L"wininet_reference", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  zv::UniqueInternet request(session ? ::InternetOpenUrlW(session.get(), argv[1], nullptr, 0,
                                                          INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0)
                                     : nullptr);
  zv::UniqueFile file(::CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!request || !file) {
    std::printf("status=6 error=%lu\n", ::GetLastError());
    return 1;
  }
  std::vector<char> buffer(1 << 20);
  unsigned long long total = 0;
  for (;;) {
    DWORD got = 0;
    if (!::InternetReadFile(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got)) {
      std::printf("status=6 error=%lu\n", ::GetLastError());
      return 1;
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!::WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got) {
      std::printf("status=6 error=%lu\n", ::GetLastError());
      return 1;
    }
    total += got;
  }
  std::printf("status=2 size=%llu ms=%llu\n", total, static_cast<unsigned long long>(::GetTickCount64() - start));
  return 0;
}
