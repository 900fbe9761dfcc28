// The interfaces and class ids of the data containers (Quiver.dll) and the
// script objects (Quiverx.dll), shared by the halls and the two libraries.
// The order of the methods is part of the binary contract: never reorder them,
// add new ones only at the end.
#pragma once

#include <windows.h>
#include <dispex.h>
#include <oaidl.h>
#include <unknwn.h>

namespace zv {

// The data container class of Quiver.dll.
inline constexpr CLSID kClsidQuiverContainer = {
    0x2d1a6c36, 0xb178, 0x45f1, {0xbe, 0x2e, 0x37, 0x0b, 0xad, 0x2b, 0x72, 0xca}};
// CDataX, the script object class of Quiverx.dll.
inline constexpr CLSID kClsidDataX = {
    0x94f08be3, 0x0b70, 0x4ae1, {0x85, 0x96, 0xcf, 0x5f, 0x15, 0x06, 0xdb, 0x47}};
// The process-wide table that turns a CDataX property's DISPID into its name.
inline constexpr CLSID kClsidPropertyNameTable = {
    0x94f08be4, 0x0b70, 0x4ae1, {0x85, 0x96, 0xcf, 0x5f, 0x15, 0x06, 0xdb, 0x48}};

// Kinds of a container item.
enum ItemKind : LONG {
  kItemEmpty = 0,
  kItemText = 1,
  kItemInteger = 2,
  kItemList = 3,    // children reached by index
  kItemRecord = 4,  // children reached by name
};

// Serialization modes.
inline constexpr BYTE kSerializeXml = 1;     // load only: game information files
inline constexpr BYTE kSerializeBinary = 2;  // inter-process records, read back unchanged
// Load option that maps XML attributes to records beside their elements.
inline constexpr LONG kLoadOptionAttributeRecords = 8192;

}  // namespace zv

// One item of a container tree: a value (text or integer) or a list or a
// record of child items. Every child is itself an item, handed out as
// VT_DISPATCH. An item is used from one thread at a time.
struct IQuiverItem : public IUnknown {
  // VT_I1..VT_I8, VT_UI1..VT_UI8 (up to 2^63 - 1), VT_INT, VT_UINT and VT_BOOL store an
  // integer, VT_BSTR a text, VT_EMPTY clears; any other type gives
  // DISP_E_TYPEMISMATCH. Children are dropped.
  virtual HRESULT STDMETHODCALLTYPE SetValue(const VARIANT* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetKind(LONG* kind) = 0;
  // Children of a list or record; 0 for a value.
  virtual HRESULT STDMETHODCALLTYPE GetCount(LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
  // The child at index: its name (empty in a list) and the child as
  // VT_DISPATCH. DISP_E_BADINDEX past the end.
  virtual HRESULT STDMETHODCALLTYPE GetChildAt(LONG index, BSTR* name, VARIANT* child) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetChildVariantAt(LONG index, VARIANT* child) = 0;
  // kSerializeXml or kSerializeBinary (the default); S_OK, else E_INVALIDARG.
  virtual HRESULT STDMETHODCALLTYPE SetSerializeMode(BYTE mode) = 0;
  // Only kLoadOptionAttributeRecords is known; others give E_INVALIDARG.
  virtual HRESULT STDMETHODCALLTYPE SetLoadOption(LONG option, BOOL enable) = 0;
  // An integer item's value; a text item's value when the whole text is a
  // decimal integer; 0 otherwise.
  virtual HRESULT STDMETHODCALLTYPE GetInt64(LONGLONG* value) = 0;
  // Text in the thread's ANSI code page; length in bytes, or -1 up to the
  // terminating zero.
  virtual HRESULT STDMETHODCALLTYPE SetTextA(const char* text, LONG length) = 0;
  // A text item's text, an integer in decimal, an empty string otherwise.
  virtual HRESULT STDMETHODCALLTYPE GetText(BSTR* text) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetTextW(const wchar_t* text) = 0;
  // The child named name (thread's ANSI code page) as VT_DISPATCH. A missing
  // name is added as a new empty child, so a lookup followed by a set stores a
  // new key; an empty item becomes a record on its first lookup. A value or a
  // list has no named children: E_NOT_VALID_STATE.
  virtual HRESULT STDMETHODCALLTYPE GetChildByName(const char* name, VARIANT* child) = 0;
  // Replaces the item's content with the bytes in the current serialization
  // mode. The outcome is only the thread's last-error value: 0 on success;
  // on failure the item is unchanged.
  virtual void STDMETHODCALLTYPE Load(const BYTE* data, ULONG size) = 0;
  // Appends a new empty child to a list (an empty item becomes a list).
  virtual HRESULT STDMETHODCALLTYPE AppendChild(IQuiverItem** child) = 0;
};

// Narrow text setter preferred by the halls when an item answers it.
struct IQuiverNarrowText : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetNarrowText(const char* text, LONG length) = 0;
};

// Byte serialization of a whole item in its serialization mode.
struct IQuiverSerializer : public IUnknown {
  // A one-dimensional VT_UI1 array; only kSerializeBinary writes.
  virtual HRESULT STDMETHODCALLTYPE Serialize(SAFEARRAY** bytes) = 0;
  // As IQuiverItem::Load, and the HRESULT tells the outcome as well.
  virtual HRESULT STDMETHODCALLTYPE LoadFromMemory(const BYTE* data, ULONG size) = 0;
};

__CRT_UUID_DECL(IQuiverItem, 0x680a4f5c, 0x8b25, 0x47d0, 0x93, 0xe5, 0xdf, 0xcc, 0xe0, 0x72, 0x2c, 0x31)
__CRT_UUID_DECL(IQuiverNarrowText, 0xc8814d95, 0xbd2e, 0x468d, 0xb7, 0xae, 0x13, 0x0a, 0xd5, 0xdb, 0x24, 0xe1)
__CRT_UUID_DECL(IQuiverSerializer, 0x6f7018b2, 0x6d7a, 0x4282, 0x90, 0xc1, 0xf9, 0xa4, 0x84, 0x05, 0x1c, 0xd4)
