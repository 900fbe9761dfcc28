// The halls' side of the data containers (Quiver.dll) and script objects
// (Quiverx.dll): loading the libraries, making objects, the container helpers
// and the conversion of container items into script objects.
//
// Threading: Quiver's use count is atomic. The Quiverx loader state (module,
// jscript.dll pin, cached CDataX factory, property-name table) is guarded by a
// lock, because script objects are also made on the download engine's
// threads. Containers and script objects themselves are used by one thread at
// a time. Every helper accepts a null item and then answers null or empty.
#pragma once

#include <windows.h>
#include <dispex.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/handles.h"
#include "containers/quiver_interfaces.h"

namespace zv {

// Error codes of LoadFile.
constexpr DWORD kContainerNothingToLoad = 20100001;  // bad or empty stream, or no serialization interface
constexpr DWORD kContainerNoMemory = 20100009;       // no memory for the file's bytes
constexpr DWORD kContainerShortRead = 25000005;      // fewer bytes read than the file's length

// ---- Libraries and objects ----

// Once per hall object: loads "..\Quiver.dll" beside the program on first use
// and counts one more user. A missing library leaves containers unavailable.
void LoadQuiver();
// One user less; the library is freed when the last user is gone and it
// reports (DllCanUnloadNow) that no object of it is alive.
void UnloadQuiver();
// A new empty container, or null when Quiver is not loaded or fails.
ComPtr<IQuiverItem> NewContainer();
// A new script object of the class (CDataX by default), or null. Quiverx.dll
// is loaded on first use from the folder of the module holding this code,
// failing that from the program's folder or the system folder, never from the
// current directory; a missing or broken library is reported in a message
// box on every attempt.
ComPtr<IDispatchEx> NewDataX(REFCLSID clsid = kClsidDataX);
// The name of a CDataX property's DISPID; empty when unknown.
std::wstring PropertyNameOf(DISPID id);

// The loader's message boxes go through this function (MessageBoxW unless
// replaced), so tests can record them. Returns the previous function.
using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
MessageBoxFunction SetLoaderMessageBox(MessageBoxFunction show);

// ---- Container helpers ----

// The child under name (thread's ANSI code page), added empty when missing.
ComPtr<IQuiverItem> Get(IQuiverItem* container, const std::string& name);
LONG Kind(IQuiverItem* item);   // kItemEmpty for null
LONG Count(IQuiverItem* item);  // children of a list or record
// The child at index and its name (empty in a list); null past the end.
ComPtr<IQuiverItem> ChildAt(IQuiverItem* item, LONG index, std::wstring* name = nullptr);
HRESULT SetInt(IQuiverItem* item, int32_t value);    // VT_I4
HRESULT SetUInt(IQuiverItem* item, uint32_t value);  // VT_UI4
HRESULT SetString(IQuiverItem* item, const std::wstring& value);
// Narrow text in the thread's ANSI code page.
HRESULT SetString(IQuiverItem* item, const std::string& value);
// The low 32 bits of the item's 64-bit value.
int32_t GetInt(IQuiverItem* item);
std::wstring GetString(IQuiverItem* item);
std::string GetStringA(IQuiverItem* item);  // thread's ANSI code page
// The bytes of the container in its serialization mode; empty on failure.
std::string Serialize(IQuiverItem* container);
// The container's own load; true when the thread's last-error value is 0
// afterwards.
bool Load(IQuiverItem* container, const void* bytes, size_t size);
// Reads the rest of an open stream from its start and loads it through the
// serialization interface: 0, one of the kContainer codes, or the last-error
// value the failed load left.
DWORD LoadFile(IQuiverItem* container, FILE* stream);

// ---- Script objects ----

// Writes a property by name, creating it; an index is written as "%d".
HRESULT PutProperty(IDispatchEx* object, const std::wstring& name, const VARIANT& value);
HRESULT PutProperty(IDispatchEx* object, int index, const VARIANT& value);
// Reads a property through IDispatch by name.
HRESULT GetProperty(IDispatch* object, const std::wstring& name, VARIANT* value);

// Depth at which ToScriptObject stops looking: items there become a null
// VT_DISPATCH.
constexpr int kScriptObjectDepthLimit = 5;
// Text: VT_BSTR; integer: VT_I4; list: a CDataX with properties "0", "1", ...
// numbered without gaps; record: a CDataX with a property per child name.
// Children that convert to VT_EMPTY (empty items) are skipped; an empty item
// itself gives VT_EMPTY.
UniqueVariant ToScriptObject(IQuiverItem* item);

}  // namespace zv
