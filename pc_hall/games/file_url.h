// Decoding of the encrypted download addresses ("fileUrl") that a game's
// information file carries for each download part.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ostrelle {

// The 16-character constant that, after the game id, forms the decryption key.
inline constexpr char kFileUrlKeyTail[] = "Zv#Ostrelle@2009";
static_assert(sizeof(kFileUrlKeyTail) == 17, "the key tail is 16 characters");

// The longest decoded address accepted, in bytes.
inline constexpr size_t kMaxDecodedUrlBytes = 1023;

// Standard base64 decoding that skips every character outside the alphabet
// ("=" included). Gives nothing when more than maxBytes would come out.
std::optional<std::string> DecodeBase64Lenient(const std::wstring& text, size_t maxBytes);

// TEA decryption (32 cycles, delta 0x9E3779B9, little-endian words) of whole
// 8-byte blocks in place; data.size() must be a multiple of 8.
void TeaDecryptBlocks(std::string& data, const unsigned char key[16]);

// fileUrl -> download URL in the thread's ANSI code page: the text after the
// first 6 characters is base64-decoded and TEA-decrypted with the key made of
// the game id (ANSI) followed by kFileUrlKeyTail, cut to 16 bytes. Gives
// nothing when the decoded length is not a whole number of blocks or exceeds
// kMaxDecodedUrlBytes, so a damaged value never yields a partial address.
std::optional<std::string> DecodeFileUrl(const std::wstring& fileUrl, const std::wstring& gameId);

}  // namespace ostrelle
