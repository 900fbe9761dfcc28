// The tree behind the container objects. Items are held by shared pointers:
// a parent's child list and every COM object wrapping the item share it, so a
// child handed out stays valid after its parent is cleared or released.
// Not thread-safe: one thread at a time per tree.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "containers/quiver_interfaces.h"

namespace zv::quiver {

// Levels of items below the root of a tree; deeper items are refused, which
// bounds every recursive walk.
constexpr int kMaxDepth = 64;
// Limits of one load, whatever the format.
constexpr size_t kMaxLoadItems = 100000;
constexpr size_t kMaxLoadBytes = 16u << 20;

// Returned when an item would lie deeper than kMaxDepth.
inline const HRESULT kTooDeep = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
// Returned for a named lookup on a value or a list, or an append to a value or a record.
inline const HRESULT kWrongKind = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);

class Item;
using ItemPtr = std::shared_ptr<Item>;

struct Child {
  std::wstring name;  // empty in a list
  ItemPtr item;
};

class Item {
 public:
  explicit Item(int depth = 0) : depth_(depth) {}
  Item(const Item&) = delete;
  Item& operator=(const Item&) = delete;

  int depth() const { return depth_; }
  LONG kind() const { return kind_; }
  int64_t integer() const { return integer_; }
  const std::wstring& text() const { return text_; }
  const std::vector<Child>& children() const { return children_; }

  void Clear();
  void SetText(std::wstring text);
  void SetInteger(int64_t value);

  // The named child, added empty when missing; an empty item becomes a record.
  HRESULT ChildByName(const std::wstring& name, ItemPtr* child);
  // A new empty child at the end of a list; an empty item becomes a list.
  HRESULT AppendChild(ItemPtr* child);
  ItemPtr Find(const std::wstring& name) const;

  // For the loaders, which check kinds, names and depth themselves.
  ItemPtr NewChild() const { return std::make_shared<Item>(depth_ + 1); }
  void MakeRecord();
  void MakeList();
  void AddNamed(std::wstring name, ItemPtr item);
  void InsertNamed(size_t position, std::wstring name, ItemPtr item);
  void AddIndexed(ItemPtr item);
  // Takes over other's kind, value and children; both lie at the same depth.
  void TakeContent(Item&& other);

 private:
  void ResetTo(LONG kind);
  void RebuildIndex();

  int depth_;
  LONG kind_ = kItemEmpty;
  int64_t integer_ = 0;
  std::wstring text_;
  std::vector<Child> children_;
  std::map<std::wstring, size_t> index_;  // record children by name
};

}  // namespace zv::quiver
