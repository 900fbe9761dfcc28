// IPipewellEvent: how the messaging library hands a received record to a
// peer. The record arrives as a data container with "Buffer" and "BufferSize";
// it may be delivered on one of the library's threads.
#pragma once

#include <windows.h>
#include <unknwn.h>

// {DCF17584-06B8-4D54-90E0-A0D8E545DFB0}
MIDL_INTERFACE("DCF17584-06B8-4D54-90E0-A0D8E545DFB0")
IPipewellEvent : public IUnknown {
 public:
  virtual HRESULT STDMETHODCALLTYPE OnReceiveData(const wchar_t* eventName, IUnknown* eventContainer) = 0;
};
__CRT_UUID_DECL(IPipewellEvent, 0xDCF17584, 0x06B8, 0x4D54, 0x90, 0xE0, 0xA0, 0xD8, 0xE5, 0x45, 0xDF, 0xB0)
