#include "catalogue.h"

#include <cstdint>
#include <cstring>

#include "common/identity.h"
#include "common/text.h"

namespace pchalltest {
namespace {

constexpr char kKeyTail[] = "Zv#Ostrelle@2009";
constexpr char kPrefix[] = "ZVURL1";

uint32_t Word(const unsigned char* bytes) {
  return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void PutWord(uint32_t value, unsigned char* bytes) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t chunk = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) chunk |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) chunk |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(chunk >> 18) & 63];
    out += kAlphabet[(chunk >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(chunk >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[chunk & 63] : '=';
  }
  return out;
}

std::string Parts(const GameSpec& game, const std::vector<PartSpec>& parts, bool patch,
                  const zvtest::HttpServer& server) {
  std::string xml;
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string member = "MD5-" + std::string(patch ? "p" : "c") + std::to_string(i);
    const std::string fileUrl =
        parts[i].fileUrl.empty() ? EncryptFileUrl(game.id, server.Url(PartPath(game, patch, i))) : parts[i].fileUrl;
    xml += "<" + member + "><fileUrl>" + fileUrl + "</fileUrl>";
    if (!patch && i == 0 && !game.startupFile.empty()) xml += "<startupFile>" + game.startupFile + "</startupFile>";
    xml += "</" + member + ">";
  }
  return xml;
}

}  // namespace

std::string EncryptFileUrl(const std::string& gameId, const std::string& url) {
  unsigned char key[16];
  std::memcpy(key, (gameId + kKeyTail).data(), sizeof(key));
  const uint32_t k[4] = {Word(key), Word(key + 4), Word(key + 8), Word(key + 12)};
  std::string data = url;
  data.append((8 - data.size() % 8) % 8, '\0');
  for (size_t offset = 0; offset < data.size(); offset += 8) {
    unsigned char* block = reinterpret_cast<unsigned char*>(&data[offset]);
    uint32_t v0 = Word(block), v1 = Word(block + 4), sum = 0;
    for (int cycle = 0; cycle < 32; ++cycle) {
      sum += 0x9E3779B9;
      v0 += ((v1 << 4) + k[0]) ^ (v1 + sum) ^ ((v1 >> 5) + k[1]);
      v1 += ((v0 << 4) + k[2]) ^ (v0 + sum) ^ ((v0 >> 5) + k[3]);
    }
    PutWord(v0, block);
    PutWord(v1, block + 4);
  }
  return kPrefix + Base64(data);
}

std::string PartPath(const GameSpec& game, bool patch, size_t index) {
  return "/files/" + game.id + "/" + (patch ? "patch" : "client") + std::to_string(index);
}

std::string GameXml(const GameSpec& game, const zvtest::HttpServer& server) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<game" + game.id + " name=\"" + game.name + "\"";
  if (!game.extraAttributes.empty()) xml += " " + game.extraAttributes;
  xml += ">";
  if (!game.clients.empty()) xml += "<clients>" + Parts(game, game.clients, false, server) + "</clients>";
  if (!game.patches.empty()) xml += "<patches>" + Parts(game, game.patches, true, server) + "</patches>";
  return xml + "</game" + game.id + ">\n";
}

std::string InfoPath(const std::string& gameId, int hallId) {
  const std::string folder = hallId == 1000006 ? "/emgame/js/" : "/pcgame/js/";
  return folder + zv::ToUtf8(zv::HashedIdPath(zv::FromUtf8(gameId))) + ".xml";
}

void Publish(zvtest::HttpServer& server, const GameSpec& game) {
  server.AddBody(InfoPath(game.id, game.hallId), GameXml(game, server));
  for (size_t i = 0; i < game.clients.size(); ++i) {
    server.AddBody(PartPath(game, false, i), game.clients[i].body, game.clients[i].options);
  }
  for (size_t i = 0; i < game.patches.size(); ++i) {
    server.AddBody(PartPath(game, true, i), game.patches[i].body, game.patches[i].options);
  }
}

}  // namespace pchalltest
