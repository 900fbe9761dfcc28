// Serialization mode 2: the compact binary form of a whole item tree, used
// for inter-process records. What WriteBinary writes, ReadBinary reads back
// unchanged (kinds, names, order, integers, texts).
//
//   stream  := "QVR" version:u8(=2) item
//   item    := kind:u8 body
//     0 empty    (no body)
//     1 text     length:varint, length bytes of UTF-8
//     2 integer  the signed 64-bit value zigzag-encoded, as a varint
//     3 list     count:varint, count items
//     4 record   count:varint, count times (length:varint, UTF-8 name, item)
//   varint  := unsigned LEB128, least significant group first; at most
//              10 bytes; lengths and counts at most 2^32 - 1
//
// The reader trusts nothing: it refuses an unknown magic, version or kind,
// an overlong or overflowing varint, a length or count larger than the bytes
// left, invalid UTF-8, empty or repeated names within a record, trailing
// bytes, items deeper than kMaxDepth and more than kMaxLoadItems items.
#pragma once

#include <windows.h>

#include <string>

#include "item_tree.h"

namespace zv::quiver {

// Fails with ERROR_NO_UNICODE_TRANSLATION for a text or name holding an
// unpaired surrogate, which UTF-8 cannot carry.
HRESULT WriteBinary(const Item& root, std::string* out);
// Fills root, a fresh item at the depth of the load's target. Returns a
// Win32 error code: 0, ERROR_INVALID_DATA or ERROR_NO_UNICODE_TRANSLATION.
DWORD ReadBinary(const BYTE* data, size_t size, Item* root);

}  // namespace zv::quiver
