// Where a download goes: the target file, the temporary file beside it and,
// for requests without a save path, the engine's own download folder.
#pragma once

#include <windows.h>

#include <string>

namespace zv::fetchwell {

constexpr wchar_t kTempSuffix[] = L".fwpart";

struct DownloadPaths {
  std::wstring target;          // where the finished file should go
  std::wstring temp;            // the partial file while it downloads
  bool alwaysUnique = false;    // the engine's folder: never replace a file
};

// The engine's download folder under the user's temporary folder.
std::wstring EngineDownloadFolder();

// A safe file name from the URL's last path segment (percent-decoded, reserved
// characters replaced); "download" when the URL has none.
std::wstring FileNameFromUrl(const std::wstring& url);

// savePath empty: the engine's folder and the URL's name, with a temporary
// name derived from the URL so that a repeated request resumes. A savePath
// ending in a separator names a folder. Fails for paths that do not resolve.
HRESULT ResolveDownloadPaths(const std::wstring& url, const std::wstring& savePath, DownloadPaths* out);

// Moves the finished temporary file to target, or beside it as
// "name (2).ext", ... when replace is false and target exists.
HRESULT PlaceFinishedFile(const std::wstring& temp, const std::wstring& target, bool replace,
                          std::wstring* finalPath);

}  // namespace zv::fetchwell
