// INI-file access (MD.cfg, config.ini and friends) through the private-profile
// functions, and the deployment's server addresses.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
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

// An INI file's values read in one pass, answering as GetPrivateProfileString
// and GetPrivateProfileInt answer for the same file: section and key names
// compare without case, the first of repeated sections and keys counts, a
// line without "=" hides later lines of its key, values lose surrounding
// blanks and one pair of matching quotes. Reads files with a UTF-16 (either
// order) or UTF-8 byte-order mark, and files without one in the ANSI code
// page, as the private-profile functions do. Not thread-safe.
class IniContent {
 public:
  // Replaces the content with the file's. A missing or unreadable file gives
  // an empty content and the failure.
  HRESULT Load(const std::wstring& path);

  // The value; null when the key is absent or has no "=".
  const std::wstring* Find(const wchar_t* section, const wchar_t* key) const;
  std::wstring ReadString(const wchar_t* section, const wchar_t* key, const wchar_t* fallback = L"") const;
  // A decimal integer with optional blanks and sign, up to its first other
  // character; the fallback when the key is absent or its value is empty.
  int ReadInt(const wchar_t* section, const wchar_t* key, int fallback) const;
  // Records a value, as it now stands in the file.
  void Set(const wchar_t* section, const wchar_t* key, const std::wstring& value);

 private:
  struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
  };
  using Keys = std::map<std::wstring, std::optional<std::wstring>, NoCaseLess>;

  void Parse(const std::wstring& text);

  std::map<std::wstring, Keys, NoCaseLess> sections_;
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
