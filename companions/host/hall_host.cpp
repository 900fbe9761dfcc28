#include "hall_host.h"

#include <dispex.h>
#include <ocidl.h>

#include "common/hresult.h"
#include "common/locations.h"
#include "common/text.h"

namespace zv {
namespace {

// {94F08BE3-0B70-4AE1-8596-CF5F1506DB47}: the script-object class of Quiverx.dll.
constexpr CLSID kScriptObjectClass = {0x94F08BE3, 0x0B70, 0x4AE1, {0x85, 0x96, 0xCF, 0x5F, 0x15, 0x06, 0xDB, 0x47}};
constexpr int kMaxObjectDepth = 4;

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

HRESULT ClassFactoryOf(HMODULE module, REFCLSID clsid, IClassFactory** factory) {
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void*>(::GetProcAddress(module, "DllGetClassObject")));
  RETURN_LAST_ERROR_IF(!getClassObject);
  return getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory));
}

// The default (non-source) interface of a coclass.
HRESULT DefaultInterfaceOf(ITypeInfo* coclass, IID* iid) {
  TYPEATTR* attributes = nullptr;
  RETURN_IF_FAILED(coclass->GetTypeAttr(&attributes));
  const WORD count = attributes->cImplTypes;
  coclass->ReleaseTypeAttr(attributes);
  for (UINT i = 0; i < count; ++i) {
    INT flags = 0;
    HREFTYPE reference = 0;
    ComPtr<ITypeInfo> implemented;
    if (FAILED(coclass->GetImplTypeFlags(i, &flags)) || (flags & IMPLTYPEFLAG_FSOURCE) ||
        !(flags & IMPLTYPEFLAG_FDEFAULT) || FAILED(coclass->GetRefTypeOfImplType(i, &reference)) ||
        FAILED(coclass->GetRefTypeInfo(reference, implemented.put()))) {
      continue;
    }
    RETURN_IF_FAILED(implemented->GetTypeAttr(&attributes));
    *iid = attributes->guid;
    implemented->ReleaseTypeAttr(attributes);
    return S_OK;
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

// The one creatable class that the DLL's embedded type library describes,
// and its command interface.
HRESULT FindCoclass(const std::wstring& dllPath, CLSID* clsid, IID* commandInterface) {
  ComPtr<ITypeLib> library;
  RETURN_IF_FAILED(::LoadTypeLibEx(dllPath.c_str(), REGKIND_NONE, library.put()));
  const UINT count = library->GetTypeInfoCount();
  for (UINT i = 0; i < count; ++i) {
    TYPEKIND kind;
    if (FAILED(library->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS) continue;
    ComPtr<ITypeInfo> info;
    RETURN_IF_FAILED(library->GetTypeInfo(i, info.put()));
    TYPEATTR* attributes = nullptr;
    RETURN_IF_FAILED(info->GetTypeAttr(&attributes));
    *clsid = attributes->guid;
    info->ReleaseTypeAttr(attributes);
    return DefaultInterfaceOf(info.get(), commandInterface);
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

std::wstring DescribeObject(IDispatch* object, int depth, std::map<std::wstring, std::wstring>* fields,
                            const std::wstring& prefix);

// Calls visit(name, value) for every property of a script object.
template <typename Visit>
void ForEachProperty(IDispatch* object, Visit&& visit) {
  ComPtr<IDispatchEx> expando;
  if (FAILED(ComPtr<IDispatch>(object).As(&expando))) return;
  DISPID id = DISPID_STARTENUM;
  while (expando->GetNextDispID(fdexEnumAll, id, &id) == S_OK) {
    UniqueBstr name;
    if (FAILED(expando->GetMemberName(id, name.put()))) continue;
    DISPPARAMS none = {};
    UniqueVariant value;
    if (FAILED(expando->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value.get(),
                                 nullptr, nullptr))) {
      continue;
    }
    visit(std::wstring(name.get(), ::SysStringLen(name.get())), *value.get());
  }
}

std::wstring DescribeObject(IDispatch* object, int depth, std::map<std::wstring, std::wstring>* fields,
                            const std::wstring& prefix) {
  if (!object) return L"null";
  if (depth >= kMaxObjectDepth) return L"{...}";
  std::wstring text = L"{";
  ForEachProperty(object, [&](const std::wstring& name, const VARIANT& value) {
    if (text.size() > 1) text += L" ";
    const std::wstring key = prefix.empty() ? name : prefix + L"." + name;
    if (value.vt == VT_DISPATCH) {
      text += name + L"=" + DescribeObject(value.pdispVal, depth + 1, fields, key);
    } else {
      text += name + L"=" + DescribeVariant(value, depth + 1);
      if (fields) (*fields)[key] = PlainValue(value);
    }
  });
  return text + L"}";
}

}  // namespace

std::wstring PlainValue(const VARIANT& value) {
  if (value.vt == VT_BSTR) return value.bstrVal ? std::wstring(value.bstrVal, ::SysStringLen(value.bstrVal)) : L"";
  if (value.vt == VT_BOOL) return value.boolVal ? L"true" : L"false";
  if (value.vt == VT_EMPTY || value.vt == VT_NULL || value.vt == VT_ERROR) return L"-";
  if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) return L"[object]";
  VARIANT text;
  ::VariantInit(&text);
  if (FAILED(::VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR))) return L"?";
  std::wstring out(text.bstrVal, ::SysStringLen(text.bstrVal));
  ::VariantClear(&text);
  return out;
}

std::wstring DescribeVariant(const VARIANT& value, int depth) {
  if (value.vt == VT_BSTR) return L"\"" + PlainValue(value) + L"\"";
  if (value.vt == VT_DISPATCH) return DescribeObject(value.pdispVal, depth, nullptr, L"");
  return PlainValue(value);
}

// The Notify sink: answers IDispatch and the hall's event interface.
class HallHost::Sink final : public IDispatch {
 public:
  Sink(HallHost* host, const IID& eventInterface) : host_(host), eventInterface_(eventInterface) {}
  virtual ~Sink() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == eventInterface_) {
      *out = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ::InterlockedIncrement(&references_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                      UINT*) override {
    return GuardBoundary([&]() -> HRESULT {
      if (id != 1 || !params || params->cArgs < 1) return DISP_E_MEMBERNOTFOUND;
      host_->Record(Describe(*params));
      return S_OK;
    });
  }

 private:
  // Arguments come in reverse order: event name last.
  static HostEvent Describe(const DISPPARAMS& params) {
    HostEvent event;
    const UINT count = params.cArgs;
    event.name = PlainValue(params.rgvarg[count - 1]);
    event.text = event.name;
    const wchar_t* labels[] = {L"p1", L"p2"};
    for (UINT i = 1; i < count && i <= 2; ++i) {
      const VARIANT& value = params.rgvarg[count - 1 - i];
      event.fields[labels[i - 1]] = PlainValue(value);
      event.text += std::wstring(L" ") + labels[i - 1] + L"=";
      if (value.vt == VT_DISPATCH) {
        event.text += DescribeObject(value.pdispVal, 0, &event.fields, L"");
      } else {
        event.text += DescribeVariant(value);
      }
    }
    return event;
  }

  LONG references_ = 1;
  HallHost* host_;
  IID eventInterface_;
};

HallHost::HallHost() : arrived_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

HallHost::~HallHost() {
  if (connection_ && cookie_) connection_->Unadvise(cookie_);
  connection_.reset();
  commands_.reset();
  object_.reset();
  if (sink_) sink_->Release();
}

HRESULT HallHost::Load(const std::wstring& dllPath) {
  CLSID clsid;
  IID commandInterface;
  RETURN_IF_FAILED(FindCoclass(dllPath, &clsid, &commandInterface));
  hall_.reset(::LoadLibraryExW(dllPath.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  RETURN_LAST_ERROR_IF(!hall_);
  ComPtr<IClassFactory> factory;
  RETURN_IF_FAILED(ClassFactoryOf(hall_.get(), clsid, factory.put()));
  RETURN_IF_FAILED(factory->CreateInstance(nullptr, IID_IDispatch, object_.put_void()));
  object_.QueryTo(commandInterface, commands_.put_void());

  ComPtr<IProvideClassInfo2> classInfo;
  RETURN_IF_FAILED(object_.As(&classInfo));
  GUID eventInterface;
  RETURN_IF_FAILED(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &eventInterface));
  ComPtr<IConnectionPointContainer> container;
  RETURN_IF_FAILED(object_.As(&container));
  RETURN_IF_FAILED(container->FindConnectionPoint(eventInterface, connection_.put()));
  sink_ = new (std::nothrow) Sink(this, eventInterface);
  RETURN_IF_NULL_ALLOC(sink_);
  return connection_->Advise(sink_, &cookie_);
}

HRESULT HallHost::Call(const std::wstring& method, const VARIANT& param1, const VARIANT& param2,
                       VARIANT* result) {
  RETURN_HR_IF(E_UNEXPECTED, !object_);
  UniqueBstr methodText(::SysAllocStringLen(method.data(), static_cast<UINT>(method.size())));
  RETURN_IF_NULL_ALLOC(methodText.get());
  if (commands_) return commands_->call(methodText.get(), param1, param2, result);
  DISPID callId = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"call");
  RETURN_IF_FAILED(object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &callId));
  VARIANT arguments[3];
  arguments[0] = param2;
  arguments[1] = param1;
  ::VariantInit(&arguments[2]);
  arguments[2].vt = VT_BSTR;
  arguments[2].bstrVal = methodText.get();
  DISPPARAMS params = {arguments, nullptr, 3, 0};
  return object_->Invoke(callId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                         nullptr, nullptr);
}

HRESULT HallHost::MakeScriptObject(const std::vector<std::pair<std::wstring, VARIANT>>& properties,
                                   IDispatch** object) {
  if (!scriptObjects_) {
    scriptObjects_.reset(::LoadLibraryExW(ProgramFilePath(L"..\\Quiverx.dll").c_str(), nullptr,
                                          LOAD_WITH_ALTERED_SEARCH_PATH));
    RETURN_LAST_ERROR_IF(!scriptObjects_);
  }
  ComPtr<IClassFactory> factory;
  RETURN_IF_FAILED(ClassFactoryOf(scriptObjects_.get(), kScriptObjectClass, factory.put()));
  ComPtr<IDispatchEx> expando;
  RETURN_IF_FAILED(factory->CreateInstance(nullptr, __uuidof(IDispatchEx), expando.put_void()));
  for (const auto& [name, value] : properties) {
    UniqueBstr nameText(::SysAllocString(name.c_str()));
    RETURN_IF_NULL_ALLOC(nameText.get());
    DISPID id = 0;
    RETURN_IF_FAILED(expando->GetDispID(nameText.get(), fdexNameEnsure, &id));
    VARIANT argument = value;
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&argument, &putId, 1, 1};
    RETURN_IF_FAILED(expando->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params,
                                       nullptr, nullptr, nullptr));
  }
  return expando->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(object));
}

void HallHost::Record(HostEvent event) {
  event.tick = ::GetTickCount64();
  {
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back(event);
    if (observer_) observer_(event);
  }
  ::SetEvent(arrived_.get());
}

bool HallHost::WaitForEvent(const std::function<bool(const HostEvent&)>& match, DWORD timeoutMs,
                            HostEvent* found) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      for (size_t i = cursor_; i < events_.size(); ++i) {
        if (match(events_[i])) {
          cursor_ = i + 1;
          if (found) *found = events_[i];
          return true;
        }
      }
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return false;
    HANDLE arrived = arrived_.get();
    ::MsgWaitForMultipleObjects(1, &arrived, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
}

}  // namespace zv
