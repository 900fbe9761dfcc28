// Reading a game's information object (a data container loaded from its
// game.xml) and building its download parts from it. Lookups of a missing
// name add an empty child, as the container does for every lookup, so the
// caller must hold the object exclusively (the game item's lock).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "containers/quiver_interfaces.h"

namespace ostrelle {

// "game" followed by the id, in the thread's ANSI code page.
std::string GameKey(const std::wstring& gameId);
// The text under "game<id>@" then name: the document element's attribute
// ("name", "pkgName", "runFlat", "downloadUrl", "emuStartFile").
std::wstring GameAttribute(IQuiverItem* info, const std::wstring& gameId, const char* name);

// "startupFile" of the first member of the first record of "clients".
std::wstring StartFile(IQuiverItem* info, const std::wstring& gameId);

// One file of the game as the download engine fetches it.
struct DownloadPart {
  std::wstring name;      // "123_0", "123_1", "123_p0": id, "" or "p", counter per group
  std::string digest;     // the member name after "MD5-"; kept, never checked
  std::string url;        // decoded download address (ANSI); empty when refused
  std::wstring localFile; // the file this part was saved to; empty until known
  bool wanted = false;    // its download was asked for and not paused, cancelled or ended
  int outstanding = 0;    // accepted requests still waiting for their final report
};

struct PartList {
  std::vector<DownloadPart> parts;
  int clientCount = 0;
  int patchCount = 0;
};

// Walks "clients" then "patches" (a list: its record elements; a record:
// itself); every member whose value has a non-empty "fileUrl" is a part.
PartList BuildPartList(IQuiverItem* info, const std::wstring& gameId);

}  // namespace ostrelle
