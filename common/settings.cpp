#include "common/settings.h"

#include "common/handles.h"
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
