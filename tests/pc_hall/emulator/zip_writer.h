// Writes ZIP archives for the tests with minizip's writer.
#pragma once

#include <string>
#include <vector>

namespace zvtest {

struct ZipEntry {
  std::string name;  // as stored in the archive; a trailing slash makes a folder
  std::string data;
  bool utf8Name = false;
};

// Creates (or replaces) the archive at path with these entries, deflated.
bool WriteZip(const std::wstring& path, const std::vector<ZipEntry>& entries);

}  // namespace zvtest
