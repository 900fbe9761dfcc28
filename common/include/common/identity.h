// The installation's peer identity (a GUID text kept in MD.cfg [InstallInfo]
// PeerId) and the hashed path of a game on the content servers.
#pragma once

#include <windows.h>

#include <array>
#include <string>

namespace zv {

constexpr wchar_t kNoPeerId[] = L"0000000000000000";

class Identity {
 public:
  const std::wstring& settingsPath() const { return settingsPath_; }
  // The peer id kept by the identity object; re-resolved (not kept) if empty.
  std::wstring GetPeerId() const;

 private:
  friend Identity& GetIdentity();
  Identity();
  std::wstring ResolvePeerId() const;

  std::wstring settingsPath_;
  std::wstring peerId_;
};

// The process-wide identity object, created on first call.
Identity& GetIdentity();

// A new GUID as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; empty on failure.
std::wstring NewGuidText();

using Md5Digest = std::array<unsigned char, 16>;
HRESULT Md5(const void* data, size_t size, Md5Digest* digest);
std::wstring HexLower(const unsigned char* bytes, size_t size);

// "d0d1/d30d31/n" where d are the hex digits of MD5(n + "qatrip|804").
std::wstring HashedIdPath(const std::wstring& gameId);

}  // namespace zv
