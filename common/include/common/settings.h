// INI-file access (MD.cfg, config.ini and friends) through the private-profile
// functions, and the deployment's server addresses.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace zv {

class IniFile {
 public:
  explicit IniFile(std::wstring path) : path_(std::move(path)) {}

  const std::wstring& path() const { return path_; }
  std::wstring ReadString(const wchar_t* section, const wchar_t* key,
                          const wchar_t* fallback = L"") const;
  int ReadInt(const wchar_t* section, const wchar_t* key, int fallback) const;
  HRESULT WriteString(const wchar_t* section, const wchar_t* key, const std::wstring& value) const;
  HRESULT WriteInt(const wchar_t* section, const wchar_t* key, int value) const;  // "%d"
  // The whole section in one read; keys keep the file's spelling.
  std::map<std::wstring, std::wstring> ReadSection(const wchar_t* section) const;

 private:
  std::wstring path_;
};

// MD.cfg in the program folder.
IniFile Settings();

// Base URLs of the servers the box talks to, from MD.cfg [Server]
// (StaticContent, Statistics, InstallStatistics, PartnerDownload), each
// without a trailing slash, with built-in defaults.
struct ServerAddresses {
  std::wstring staticContent;
  std::wstring statistics;
  std::wstring installStatistics;
  std::wstring partnerDownload;
};
ServerAddresses LoadServerAddresses();
ServerAddresses DefaultServerAddresses();

}  // namespace zv
