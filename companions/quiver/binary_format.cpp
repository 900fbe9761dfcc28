#include "binary_format.h"

#include <cstdint>
#include <cstring>

#include "utf8.h"

namespace zv::quiver {
namespace {

constexpr char kMagic[4] = {'Q', 'V', 'R', 2};

void WriteVarint(uint64_t value, std::string* out) {
  while (value >= 0x80) {
    out->push_back(static_cast<char>((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<char>(value));
}

uint64_t ZigZag(int64_t value) {
  return (static_cast<uint64_t>(value) << 1) ^ static_cast<uint64_t>(value >> 63);
}

int64_t UnZigZag(uint64_t value) {
  return static_cast<int64_t>(value >> 1) ^ -static_cast<int64_t>(value & 1);
}

bool WriteText(const std::wstring& text, std::string* out) {
  std::string utf8;
  if (!EncodeUtf8(text, &utf8)) return false;
  WriteVarint(utf8.size(), out);
  out->append(utf8);
  return true;
}

bool WriteItem(const Item& item, std::string* out) {
  out->push_back(static_cast<char>(item.kind()));
  switch (item.kind()) {
    case kItemText:
      return WriteText(item.text(), out);
    case kItemInteger:
      WriteVarint(ZigZag(item.integer()), out);
      return true;
    case kItemList:
    case kItemRecord:
      WriteVarint(item.children().size(), out);
      for (const Child& child : item.children()) {
        if (item.kind() == kItemRecord && !WriteText(child.name, out)) return false;
        if (!WriteItem(*child.item, out)) return false;
      }
      return true;
    default:
      return true;
  }
}

class BinaryReader {
 public:
  BinaryReader(const BYTE* data, size_t size) : next_(data), end_(data + size) {}

  DWORD Read(Item* root) {
    if (Left() < sizeof(kMagic) || memcmp(next_, kMagic, sizeof(kMagic)) != 0) {
      return ERROR_INVALID_DATA;
    }
    next_ += sizeof(kMagic);
    const DWORD error = ReadItem(root);
    if (error != ERROR_SUCCESS) return error;
    return next_ == end_ ? ERROR_SUCCESS : ERROR_INVALID_DATA;
  }

 private:
  size_t Left() const { return static_cast<size_t>(end_ - next_); }

  bool ReadVarint(uint64_t* value) {
    uint64_t result = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      if (next_ == end_) return false;
      const BYTE byte = *next_++;
      const uint64_t group = byte & 0x7F;
      if (shift == 63 && group > 1) return false;
      result |= group << shift;
      if (!(byte & 0x80)) {
        *value = result;
        return true;
      }
    }
    return false;
  }

  // A length or count that cannot exceed the bytes left, each unit taking at
  // least minimumBytes of them.
  bool ReadCount(size_t minimumBytes, size_t* count) {
    uint64_t value = 0;
    if (!ReadVarint(&value) || value > UINT32_MAX) return false;
    if (value > Left() / minimumBytes) return false;
    *count = static_cast<size_t>(value);
    return true;
  }

  DWORD ReadText(std::wstring* text) {
    size_t length = 0;
    if (!ReadCount(1, &length)) return ERROR_INVALID_DATA;
    const char* bytes = reinterpret_cast<const char*>(next_);
    next_ += length;
    return DecodeUtf8(bytes, length, text) ? ERROR_SUCCESS : ERROR_NO_UNICODE_TRANSLATION;
  }

  DWORD ReadItem(Item* item) {
    if (++items_ > kMaxLoadItems || next_ == end_) return ERROR_INVALID_DATA;
    const BYTE kind = *next_++;
    switch (kind) {
      case kItemEmpty:
        item->Clear();
        return ERROR_SUCCESS;
      case kItemText: {
        std::wstring text;
        const DWORD error = ReadText(&text);
        if (error == ERROR_SUCCESS) item->SetText(std::move(text));
        return error;
      }
      case kItemInteger: {
        uint64_t value = 0;
        if (!ReadVarint(&value)) return ERROR_INVALID_DATA;
        item->SetInteger(UnZigZag(value));
        return ERROR_SUCCESS;
      }
      case kItemList:
        return ReadChildren(item, false);
      case kItemRecord:
        return ReadChildren(item, true);
      default:
        return ERROR_INVALID_DATA;
    }
  }

  DWORD ReadChildren(Item* item, bool named) {
    named ? item->MakeRecord() : item->MakeList();
    size_t count = 0;
    if (!ReadCount(named ? 2 : 1, &count)) return ERROR_INVALID_DATA;
    if (count > 0 && item->depth() + 1 > kMaxDepth) return ERROR_INVALID_DATA;
    for (size_t i = 0; i < count; ++i) {
      std::wstring name;
      if (named) {
        const DWORD error = ReadText(&name);
        if (error != ERROR_SUCCESS) return error;
        if (name.empty() || item->Find(name)) return ERROR_INVALID_DATA;
      }
      ItemPtr child = item->NewChild();
      const DWORD error = ReadItem(child.get());
      if (error != ERROR_SUCCESS) return error;
      named ? item->AddNamed(std::move(name), std::move(child)) : item->AddIndexed(std::move(child));
    }
    return ERROR_SUCCESS;
  }

  const BYTE* next_;
  const BYTE* end_;
  size_t items_ = 0;
};

}  // namespace

HRESULT WriteBinary(const Item& root, std::string* out) {
  out->assign(kMagic, sizeof(kMagic));
  return WriteItem(root, out) ? S_OK : HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
}

DWORD ReadBinary(const BYTE* data, size_t size, Item* root) {
  if (size > kMaxLoadBytes) return ERROR_INVALID_DATA;
  return BinaryReader(data, size).Read(root);
}

}  // namespace zv::quiver
