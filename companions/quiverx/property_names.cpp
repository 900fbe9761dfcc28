#include "property_names.h"

#include <new>

namespace zv::quiverx {
namespace {

// Positive ids, clear of DISPID_VALUE (0) and the reserved negative ones.
constexpr DISPID kFirstId = 1;
constexpr size_t kMaxNames = 1u << 22;

}  // namespace

PropertyNames& PropertyNames::Instance() {
  // Never destroyed: objects may still ask for names while the process exits.
  static PropertyNames* instance = new PropertyNames();
  return *instance;
}

DISPID PropertyNames::Find(const std::wstring& name) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = ids_.find(name);
  return found == ids_.end() ? DISPID_UNKNOWN : found->second;
}

DISPID PropertyNames::Ensure(const std::wstring& name) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = ids_.find(name);
  if (found != ids_.end()) return found->second;
  if (names_.size() >= kMaxNames) return DISPID_UNKNOWN;
  const DISPID id = kFirstId + static_cast<DISPID>(names_.size());
  names_.push_back(name);
  try {
    ids_.emplace(name, id);
  } catch (...) {
    names_.pop_back();
    throw;
  }
  return id;
}

bool PropertyNames::NameOf(DISPID id, std::wstring* name) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (id < kFirstId || static_cast<size_t>(id - kFirstId) >= names_.size()) return false;
  *name = names_[static_cast<size_t>(id - kFirstId)];
  return true;
}

bool PropertyNames::Contains(DISPID id) const {
  std::lock_guard<std::mutex> guard(lock_);
  return id >= kFirstId && static_cast<size_t>(id - kFirstId) < names_.size();
}

DISPID PropertyNames::Next(DISPID id) const {
  std::lock_guard<std::mutex> guard(lock_);
  size_t index;
  if (id == DISPID_STARTENUM) {
    index = 0;
  } else if (id >= kFirstId) {
    index = static_cast<size_t>(id - kFirstId) + 1;
  } else {
    return DISPID_UNKNOWN;
  }
  return index < names_.size() ? kFirstId + static_cast<DISPID>(index) : DISPID_UNKNOWN;
}

}  // namespace zv::quiverx
