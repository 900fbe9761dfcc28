#include "game_info.h"

#include "common/text.h"
#include "containers/container_binding.h"
#include "file_url.h"

namespace ostrelle {
namespace {

// The records that hold parts: a list's record elements, or the record itself.
std::vector<zv::ComPtr<IQuiverItem>> PartRecords(IQuiverItem* group) {
  std::vector<zv::ComPtr<IQuiverItem>> records;
  const LONG kind = zv::Kind(group);
  if (kind == zv::kItemRecord) {
    records.push_back(zv::ComPtr<IQuiverItem>(group));
  } else if (kind == zv::kItemList) {
    for (LONG i = 0, n = zv::Count(group); i < n; ++i) {
      zv::ComPtr<IQuiverItem> element = zv::ChildAt(group, i);
      if (zv::Kind(element.get()) == zv::kItemRecord) records.push_back(element);
    }
  }
  return records;
}

std::string DigestOf(const std::wstring& memberName) {
  if (memberName.compare(0, 4, L"MD5-") != 0) return std::string();
  return zv::ToCodePage(memberName.substr(4));
}

int AddParts(IQuiverItem* info, const std::wstring& gameId, const char* group, const wchar_t* letter,
             std::vector<DownloadPart>* parts) {
  zv::ComPtr<IQuiverItem> groupItem = zv::Get(zv::Get(info, GameKey(gameId)).get(), group);
  int counter = 0;
  for (const auto& record : PartRecords(groupItem.get())) {
    for (LONG i = 0, n = zv::Count(record.get()); i < n; ++i) {
      std::wstring memberName;
      zv::ComPtr<IQuiverItem> member = zv::ChildAt(record.get(), i, &memberName);
      if (zv::Kind(member.get()) != zv::kItemRecord) continue;
      const std::wstring fileUrl = zv::GetString(zv::Get(member.get(), "fileUrl").get());
      if (fileUrl.empty()) continue;
      DownloadPart part;
      part.name = zv::Format(L"%ls_%ls%d", gameId.c_str(), letter, counter++);
      part.digest = DigestOf(memberName);
      part.url = DecodeFileUrl(fileUrl, gameId).value_or(std::string());
      parts->push_back(std::move(part));
    }
  }
  return counter;
}

}  // namespace

std::string GameKey(const std::wstring& gameId) { return "game" + zv::ToCodePage(gameId); }

std::wstring GameAttribute(IQuiverItem* info, const std::wstring& gameId, const char* name) {
  return zv::GetString(zv::Get(zv::Get(info, GameKey(gameId) + "@").get(), name).get());
}

std::wstring StartFile(IQuiverItem* info, const std::wstring& gameId) {
  zv::ComPtr<IQuiverItem> clients = zv::Get(zv::Get(info, GameKey(gameId)).get(), "clients");
  zv::ComPtr<IQuiverItem> first = zv::Kind(clients.get()) == zv::kItemList ? zv::ChildAt(clients.get(), 0) : clients;
  if (zv::Kind(first.get()) != zv::kItemRecord) return std::wstring();
  zv::ComPtr<IQuiverItem> member = zv::ChildAt(first.get(), 0);
  if (zv::Kind(member.get()) != zv::kItemRecord) return std::wstring();
  return zv::GetString(zv::Get(member.get(), "startupFile").get());
}

PartList BuildPartList(IQuiverItem* info, const std::wstring& gameId) {
  PartList list;
  if (!info) return list;
  list.clientCount = AddParts(info, gameId, "clients", L"", &list.parts);
  list.patchCount = AddParts(info, gameId, "patches", L"p", &list.parts);
  return list;
}

}  // namespace ostrelle
