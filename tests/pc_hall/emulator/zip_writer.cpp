#include "zip_writer.h"

#include <windows.h>

#include <zip.h>
// iowin32.h relies on the declarations zip.h brings in.
#include <iowin32.h>

namespace zvtest {

bool WriteZip(const std::wstring& path, const std::vector<ZipEntry>& entries) {
  zlib_filefunc64_def files;
  fill_win32_filefunc64W(&files);
  zipFile zip = zipOpen2_64(path.c_str(), APPEND_STATUS_CREATE, nullptr, &files);
  if (!zip) return false;
  bool ok = true;
  for (const ZipEntry& entry : entries) {
    zip_fileinfo info = {};
    ok = ok && zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                       Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                       entry.utf8Name ? (1u << 11) : 0u, 0) == ZIP_OK;
    ok = ok && zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())) == ZIP_OK;
    ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

}  // namespace zvtest
