// The two classes of Quiverx.dll. CDataX: a script object whose named
// properties are created on write (IDispatchEx::GetDispID with fdexNameEnsure
// followed by a property put, or a put on any DISPID the property-name table
// knows), read through IDispatch or IDispatchEx and enumerated in the order
// they were first written. The property-name table: DISPID to name and back
// for every property of every CDataX in the process. A CDataX is used from
// one thread at a time; the name table from any thread.
#pragma once

#include <windows.h>

namespace zv::quiverx {

HRESULT CreateDataX(REFIID iid, void** out);
HRESULT CreatePropertyNameTable(REFIID iid, void** out);

}  // namespace zv::quiverx
