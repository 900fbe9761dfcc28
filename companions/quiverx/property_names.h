// The process-wide table of CDataX property names: every name written to any
// CDataX gets one DISPID for the life of the process, so a DISPID alone tells
// the name (the property-name table object answers from here). Thread-safe:
// script objects are built on the hall's thread and on download threads.
#pragma once

#include <windows.h>
#include <dispex.h>
#include <oaidl.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace zv::quiverx {

class PropertyNames {
 public:
  static PropertyNames& Instance();

  // DISPID_UNKNOWN when the name was never registered.
  DISPID Find(const std::wstring& name) const;
  // Registers the name when needed; DISPID_UNKNOWN only when the table is full.
  DISPID Ensure(const std::wstring& name);
  bool NameOf(DISPID id, std::wstring* name) const;
  bool Contains(DISPID id) const;
  // The DISPID registered after id (DISPID_STARTENUM: the first one);
  // DISPID_UNKNOWN at the end.
  DISPID Next(DISPID id) const;

 private:
  PropertyNames() = default;

  mutable std::mutex lock_;
  std::unordered_map<std::wstring, DISPID> ids_;
  std::vector<std::wstring> names_;  // names_[i] has DISPID kFirstId + i
};

}  // namespace zv::quiverx
