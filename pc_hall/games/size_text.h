// Human-readable sizes for download progress: 1023B, 1K, 2K, 1.0M, 1.0G.
#pragma once

#include <string>

namespace ostrelle {

// x is a byte count as the download engine reports it (a 32-bit figure); a
// negative value stands for a size past 2 GiB and gets 2^32 added.
std::wstring FormatSize(float x);

}  // namespace ostrelle
