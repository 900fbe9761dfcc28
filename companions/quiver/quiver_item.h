// The COM face of a container item: IQuiverItem, IQuiverNarrowText,
// IQuiverSerializer and a bare IDispatch, through which children travel as
// VT_DISPATCH. Each object wraps one item and keeps its own serialization
// mode and load options; several objects may wrap the same item. One thread
// at a time per tree; the reference count alone is thread-safe.
#pragma once

#include <windows.h>

#include "item_tree.h"

namespace zv::quiver {

// A new object over item, queried for iid.
HRESULT CreateItemObject(ItemPtr item, REFIID iid, void** out);
// A new object over a new empty tree; the class factory's creation function.
HRESULT CreateContainer(REFIID iid, void** out);

}  // namespace zv::quiver
