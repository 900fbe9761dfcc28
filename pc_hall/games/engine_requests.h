// Starting downloads through the engine. The engine's threads call back into
// this module, possibly after the last hall object is gone, so the first
// request keeps the module (and the engine it imports) loaded for the rest of
// the process, as the product keeps every outside library.
#pragma once

#include "frame/download/file_download.h"

namespace ostrelle {

// CFileDownloadManager::DownloadFile after pinning this module; 0 when the
// engine accepted the request.
int RequestDownload(FileDownloadEvent* sink, const FileDownloadSetting& setting);

}  // namespace ostrelle
