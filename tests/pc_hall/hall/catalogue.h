// Test catalogue: game information files in the XML form the content server
// publishes, with download addresses encrypted the way the server encrypts
// them, and the part bodies, served by a loopback HTTP server.
#pragma once

#include <string>
#include <vector>

#include "http_server.h"

namespace pchalltest {

// The server side of "fileUrl": TEA encryption of the zero-padded UTF-8
// address keyed with the game id and the hall's key tail, base64, behind a
// 6-character prefix. Written apart from the hall's decoder and checked
// against vectors of tools/fileurl.py.
std::string EncryptFileUrl(const std::string& gameId, const std::string& url);

struct PartSpec {
  std::string body;
  zvtest::HttpOptions options;
  std::string fileUrl;  // used as given when not empty (damaged values)
};

struct GameSpec {
  std::string id;
  int hallId = 1000001;
  std::string name;
  std::string startupFile;
  std::vector<PartSpec> clients;
  std::vector<PartSpec> patches;
  std::string extraAttributes;  // more attributes of the document element
};

// The part's path on the server: "/files/<id>/<group><index>".
std::string PartPath(const GameSpec& game, bool patch, size_t index);
// game.xml for the game, pointing its parts at server.
std::string GameXml(const GameSpec& game, const zvtest::HttpServer& server);
// "/pcgame/js/<hashed path>.xml" or "/emgame/js/...".
std::string InfoPath(const std::string& gameId, int hallId);
// Serves game.xml and every part.
void Publish(zvtest::HttpServer& server, const GameSpec& game);

}  // namespace pchalltest
