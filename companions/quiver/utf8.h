// Strict UTF-8 <-> UTF-16 conversion for the container loaders: hostile bytes
// are refused instead of being replaced, so what loads is what was written.
#pragma once

#include <cstddef>
#include <string>

namespace zv::quiver {

// Refuses truncated sequences, overlong forms, surrogate code points and
// values above U+10FFFF.
bool DecodeUtf8(const char* data, size_t size, std::wstring* out);
// Refuses unpaired surrogates.
bool EncodeUtf8(const std::wstring& text, std::string* out);

}  // namespace zv::quiver
