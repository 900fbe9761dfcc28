#include "item_tree.h"

#include <utility>

namespace zv::quiver {

void Item::ResetTo(LONG kind) {
  kind_ = kind;
  integer_ = 0;
  text_.clear();
  children_.clear();
  index_.clear();
}

void Item::Clear() { ResetTo(kItemEmpty); }

void Item::SetText(std::wstring text) {
  ResetTo(kItemText);
  text_ = std::move(text);
}

void Item::SetInteger(int64_t value) {
  ResetTo(kItemInteger);
  integer_ = value;
}

void Item::MakeRecord() {
  if (kind_ != kItemRecord) ResetTo(kItemRecord);
}

void Item::MakeList() {
  if (kind_ != kItemList) ResetTo(kItemList);
}

HRESULT Item::ChildByName(const std::wstring& name, ItemPtr* child) {
  if (name.empty()) return E_INVALIDARG;
  if (kind_ != kItemEmpty && kind_ != kItemRecord) return kWrongKind;
  if (ItemPtr found = Find(name)) {
    *child = std::move(found);
    return S_OK;
  }
  if (depth_ + 1 > kMaxDepth) return kTooDeep;
  MakeRecord();
  ItemPtr added = NewChild();
  AddNamed(name, added);
  *child = std::move(added);
  return S_OK;
}

HRESULT Item::AppendChild(ItemPtr* child) {
  if (kind_ != kItemEmpty && kind_ != kItemList) return kWrongKind;
  if (depth_ + 1 > kMaxDepth) return kTooDeep;
  MakeList();
  ItemPtr added = NewChild();
  AddIndexed(added);
  *child = std::move(added);
  return S_OK;
}

ItemPtr Item::Find(const std::wstring& name) const {
  const auto found = index_.find(name);
  return found == index_.end() ? nullptr : children_[found->second].item;
}

void Item::AddNamed(std::wstring name, ItemPtr item) {
  index_.emplace(name, children_.size());
  children_.push_back({std::move(name), std::move(item)});
}

void Item::InsertNamed(size_t position, std::wstring name, ItemPtr item) {
  children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(position),
                   {std::move(name), std::move(item)});
  RebuildIndex();
}

void Item::AddIndexed(ItemPtr item) { children_.push_back({std::wstring(), std::move(item)}); }

void Item::TakeContent(Item&& other) {
  kind_ = other.kind_;
  integer_ = other.integer_;
  text_ = std::move(other.text_);
  children_ = std::move(other.children_);
  index_ = std::move(other.index_);
  other.Clear();
}

void Item::RebuildIndex() {
  index_.clear();
  for (size_t i = 0; i < children_.size(); ++i) index_.emplace(children_[i].name, i);
}

}  // namespace zv::quiver
