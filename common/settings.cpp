#include "common/settings.h"

#include <cwctype>

#include "common/handles.h"
#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"

namespace zv {

std::wstring IniFile::ReadString(const wchar_t* section, const wchar_t* key,
                                 const wchar_t* fallback) const {
  std::wstring value;
  const HRESULT hr = CallWithGrowingBuffer(value, [&](wchar_t* buffer, DWORD capacity, DWORD* length) {
    *length = ::GetPrivateProfileStringW(section, key, fallback, buffer, capacity, path_.c_str());
    return S_OK;
  });
  return SUCCEEDED(hr) ? value : std::wstring(fallback);
}

int IniFile::ReadInt(const wchar_t* section, const wchar_t* key, int fallback) const {
  return static_cast<int>(::GetPrivateProfileIntW(section, key, fallback, path_.c_str()));
}

namespace {

// The private-profile functions write a new file in the ANSI code page, which
// loses every character outside it; a file that starts with a UTF-16 byte-order
// mark keeps that encoding. Existing files are left as they are.
void CreateUnicodeIniIfMissing(const std::wstring& path) {
  UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  static const unsigned char kBom[] = {0xFF, 0xFE};
  DWORD written = 0;
  ::WriteFile(file.get(), kBom, sizeof(kBom), &written, nullptr);
}

}  // namespace

HRESULT IniFile::WriteString(const wchar_t* section, const wchar_t* key,
                             const std::wstring& value) const {
  CreateUnicodeIniIfMissing(path_);
  if (!::WritePrivateProfileStringW(section, key, value.c_str(), path_.c_str())) {
    return HRESULT_FROM_WIN32(::GetLastError());
  }
  return S_OK;
}

HRESULT IniFile::WriteInt(const wchar_t* section, const wchar_t* key, int value) const {
  return WriteString(section, key, Format(L"%d", value));
}

std::map<std::wstring, std::wstring> IniFile::ReadSection(const wchar_t* section) const {
  std::wstring block;
  std::map<std::wstring, std::wstring> entries;
  // A section comes back as "key=value\0key=value\0\0"; a full buffer reports
  // capacity - 2, which the growing helper's "filled to the end" test catches.
  const HRESULT hr = CallWithGrowingBuffer(block, [&](wchar_t* buffer, DWORD capacity, DWORD* length) {
    *length = ::GetPrivateProfileSectionW(section, buffer, capacity, path_.c_str());
    if (*length + 2 >= capacity) *length = capacity;
    return S_OK;
  }, 4096);
  if (FAILED(hr)) return entries;
  for (size_t start = 0; start < block.size();) {
    size_t end = block.find(L'\0', start);
    if (end == std::wstring::npos) end = block.size();
    const std::wstring line = block.substr(start, end - start);
    const size_t equals = line.find(L'=');
    if (equals != std::wstring::npos) entries[line.substr(0, equals)] = line.substr(equals + 1);
    start = end + 1;
  }
  return entries;
}

namespace {

// An INI file is a few kilobytes; anything far larger is not one.
constexpr size_t kMaxIniBytes = 16u << 20;

std::wstring DecodeIniText(const std::string& bytes) {
  const auto startsWith = [&bytes](const char* mark, size_t length) {
    return bytes.size() >= length && bytes.compare(0, length, mark, length) == 0;
  };
  if (startsWith("\xFF\xFE", 2)) {
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / sizeof(wchar_t));
  }
  if (startsWith("\xFE\xFF", 2)) {
    std::wstring text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text.push_back(static_cast<wchar_t>((static_cast<unsigned char>(bytes[i]) << 8) |
                                          static_cast<unsigned char>(bytes[i + 1])));
    }
    return text;
  }
  if (startsWith("\xEF\xBB\xBF", 3)) return FromCodePage(bytes.substr(3), CP_UTF8);
  return FromCodePage(bytes, CP_ACP);
}

// The private-profile functions also count the old end-of-file mark as blank.
bool IsIniBlank(wchar_t c) { return std::iswspace(c) || c == 0x1A; }

std::wstring Trim(const std::wstring& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsIniBlank(text[begin])) ++begin;
  while (end > begin && IsIniBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// One pair of matching single or double quotes around a value goes.
std::wstring Unquote(const std::wstring& value) {
  if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

bool IniContent::NoCaseLess::operator()(const std::wstring& a, const std::wstring& b) const {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_LESS_THAN;
}

HRESULT IniContent::Load(const std::wstring& path) {
  sections_.clear();
  std::string bytes;
  RETURN_IF_FAILED(ReadWholeFile(path, kMaxIniBytes, &bytes));
  Parse(DecodeIniText(bytes));
  return S_OK;
}

void IniContent::Parse(const std::wstring& text) {
  // Lines before the first section header belong to a nameless section; the
  // lines of a repeated section are never looked at.
  Keys* keys = &sections_[std::wstring()];
  size_t next = 0;
  while (next < text.size()) {
    const size_t end = text.find_first_of(L"\r\n", next);
    const std::wstring line = Trim(text.substr(next, end == std::wstring::npos ? std::wstring::npos : end - next));
    next = end == std::wstring::npos ? text.size() : end + 1;
    if (line.empty()) continue;
    const size_t close = line.rfind(L']');
    if (line[0] == L'[' && close != std::wstring::npos && close > 0) {
      const auto added = sections_.emplace(line.substr(1, close - 1), Keys());
      keys = added.second ? &added.first->second : nullptr;
      continue;
    }
    if (!keys) continue;
    const size_t equals = line.find(L'=');
    if (equals == std::wstring::npos) {
      keys->emplace(line, std::nullopt);
    } else {
      keys->emplace(Trim(line.substr(0, equals)), Unquote(Trim(line.substr(equals + 1))));
    }
  }
}

const std::wstring* IniContent::Find(const wchar_t* section, const wchar_t* key) const {
  const auto keys = sections_.find(section);
  if (keys == sections_.end()) return nullptr;
  const auto value = keys->second.find(key);
  if (value == keys->second.end() || !value->second) return nullptr;
  return &*value->second;
}

std::wstring IniContent::ReadString(const wchar_t* section, const wchar_t* key, const wchar_t* fallback) const {
  const std::wstring* value = Find(section, key);
  return value ? *value : std::wstring(fallback);
}

int IniContent::ReadInt(const wchar_t* section, const wchar_t* key, int fallback) const {
  const std::wstring* value = Find(section, key);
  if (!value || value->empty()) return fallback;
  size_t i = 0;
  while (i < value->size() && IsIniBlank((*value)[i])) ++i;
  const bool negative = i < value->size() && (*value)[i] == L'-';
  if (i < value->size() && ((*value)[i] == L'-' || (*value)[i] == L'+')) ++i;
  unsigned int number = 0;  // wraps on overflow, as the system's conversion does
  for (; i < value->size() && (*value)[i] >= L'0' && (*value)[i] <= L'9'; ++i) {
    number = number * 10u + static_cast<unsigned int>((*value)[i] - L'0');
  }
  return static_cast<int>(negative ? 0u - number : number);
}

void IniContent::Set(const wchar_t* section, const wchar_t* key, const std::wstring& value) {
  sections_[section][key] = value;
}

IniFile Settings() { return IniFile(SettingsFilePath()); }

ServerAddresses DefaultServerAddresses() {
  return {L"http://static.zorvanix.com", L"http://stat.zorvanix.com",
          L"http://installstat.zorvanix.com", L"http://down.zorvanix.com"};
}

ServerAddresses LoadServerAddresses() {
  const IniFile settings = Settings();
  const ServerAddresses defaults = DefaultServerAddresses();
  auto read = [&settings](const wchar_t* key, const std::wstring& fallback) {
    std::wstring value = settings.ReadString(L"Server", key, fallback.c_str());
    while (!value.empty() && value.back() == L'/') value.pop_back();
    return value.empty() ? fallback : value;
  };
  return {read(L"StaticContent", defaults.staticContent), read(L"Statistics", defaults.statistics),
          read(L"InstallStatistics", defaults.installStatistics),
          read(L"PartnerDownload", defaults.partnerDownload)};
}

}  // namespace zv
