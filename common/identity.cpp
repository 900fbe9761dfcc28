#include "common/identity.h"

#include <objbase.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstdlib>

#include "common/handles.h"
#include "common/hresult.h"
#include "common/locations.h"
#include "common/settings.h"
#include "common/text.h"

namespace zv {
namespace {

struct CryptProviderTraits {
  using pointer = HCRYPTPROV;
  static pointer Invalid() noexcept { return 0; }
  static void Close(pointer value) noexcept { ::CryptReleaseContext(value, 0); }
};
struct CryptHashTraits {
  using pointer = HCRYPTHASH;
  static pointer Invalid() noexcept { return 0; }
  static void Close(pointer value) noexcept { ::CryptDestroyHash(value); }
};
using UniqueCryptProvider = UniqueResource<CryptProviderTraits>;
using UniqueCryptHash = UniqueResource<CryptHashTraits>;

constexpr char kHashSalt[] = "qatrip|804";

}  // namespace

Identity::Identity() : settingsPath_(SettingsFilePath()) { peerId_ = ResolvePeerId(); }

std::wstring Identity::ResolvePeerId() const {
  const IniFile settings(settingsPath_);
  std::wstring stored = settings.ReadString(L"InstallInfo", L"PeerId", L"");
  if (!stored.empty()) return stored;
  std::wstring fresh = NewGuidText();
  if (fresh.empty()) return kNoPeerId;
  settings.WriteString(L"InstallInfo", L"PeerId", fresh);
  return fresh;
}

std::wstring Identity::GetPeerId() const { return peerId_.empty() ? ResolvePeerId() : peerId_; }

Identity& GetIdentity() {
  static Identity identity;
  return identity;
}

std::wstring NewGuidText() {
  const HRESULT init = ::CoInitialize(nullptr);
  GUID guid = {};
  const HRESULT created = ::CoCreateGuid(&guid);
  if (SUCCEEDED(init)) ::CoUninitialize();
  if (FAILED(created)) return {};
  char text[64] = {};
  std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return FromCodePage(text, CP_ACP);
}

HRESULT Md5(const void* data, size_t size, Md5Digest* digest) {
  UniqueCryptProvider provider;
  RETURN_IF_WIN32_BOOL_FALSE(
      ::CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  UniqueCryptHash hash;
  RETURN_IF_WIN32_BOOL_FALSE(::CryptCreateHash(provider.get(), CALG_MD5, 0, 0, hash.put()));
  RETURN_IF_WIN32_BOOL_FALSE(
      ::CryptHashData(hash.get(), static_cast<const BYTE*>(data), static_cast<DWORD>(size), 0));
  DWORD length = static_cast<DWORD>(digest->size());
  RETURN_IF_WIN32_BOOL_FALSE(::CryptGetHashParam(hash.get(), HP_HASHVAL, digest->data(), &length, 0));
  return length == digest->size() ? S_OK : E_UNEXPECTED;
}

std::wstring HexLower(const unsigned char* bytes, size_t size) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  text.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

std::wstring HashedIdPath(const std::wstring& gameId) {
  const int id = _wtoi(gameId.c_str());
  char salted[32];
  const int length = std::snprintf(salted, sizeof(salted), "%d%s", id, kHashSalt);
  Md5Digest digest = {};
  if (length <= 0 || FAILED(Md5(salted, static_cast<size_t>(length), &digest))) return {};
  const std::wstring hex = HexLower(digest.data(), digest.size());
  return Format(L"%lc%lc/%lc%lc/%d", hex[0], hex[1], hex[30], hex[31], id);
}

}  // namespace zv
