#include "web_hall/lanternis_core.h"

#include "common/hresult.h"
#include "common/trace.h"
#include "containers/container_binding.h"

namespace {

constexpr wchar_t kHallWindowClass[] = L"LanternisHallWindow";

const zv::FireTraceLines kFireTrace = {
    L"进入Fire_Notify of CProxy_ILanternisEvents 1",
    L"进入Fire_Notify of CProxy_ILanternisEvents 2,iConnection = %d",
    L"进入Fire_Notify of CProxy_ILanternisEvents 3",
    L"进入Fire_Notify of CProxy_ILanternisEvents 4",
};

}  // namespace

const IID kLanternisLogicObjectIid = {0x07958BDF, 0x16C1, 0x4DB5, {0x8D, 0x1E, 0xAC, 0x97, 0xB3, 0x87, 0xED, 0x24}};

CLanternisModule& CLanternisModule::Instance() {
  static CLanternisModule module;
  return module;
}

CProxy_ILanternisEvents::CProxy_ILanternisEvents() noexcept
    : NotifyConnectionPoints(DIID__ILanternisEvents, &kFireTrace) {}

CLanternisCore::CLanternisCore() {
  zv::Trace(L"MMMMM----进入CLanternisCore");
  commandMapResult_ = InitMapCall();
}

HRESULT CLanternisCore::InternalQueryInterface(REFIID iid, void** out) {
  static const zv::InterfaceEntry kInterfaces[] = {
      {&IID_IDispatch, &zv::CastTo<CLanternisCore, ILanternisLogic>},
      {&IID_IConnectionPointContainer, &zv::CastTo<CLanternisCore, IConnectionPointContainer>},
      {&__uuidof(IPipewellEvent), &zv::CastTo<CLanternisCore, IPipewellEvent>},
      {&kLanternisLogicObjectIid, &zv::CastTo<CLanternisCore, ILanternisLogic>},
      {&IID_IProvideClassInfo, &zv::CastTo<CLanternisCore, IProvideClassInfo2>},
      {&IID_IProvideClassInfo2, &zv::CastTo<CLanternisCore, IProvideClassInfo2>},
  };
  return zv::QueryInterfaceTable(this, kInterfaces, iid, out);
}

HRESULT CLanternisCore::FinalConstruct() {
  RETURN_IF_FAILED(commandMapResult_);
  zv::Trace(L"MMMMM----进入FinalConstruct");
  RETURN_IF_FAILED(CreateMessageWindow(Module(), kHallWindowClass, kHallWindowText));
  zv::LoadQuiver();
  RETURN_IF_WIN32_BOOL_FALSE(::SetTimer(WindowHandle(), kIdleTimer, kIdleTimerPeriodMs, nullptr));
  return S_OK;
}

void CLanternisCore::FinalRelease() {
  zv::Trace(L"MMMMM----进入FinalRelease");
  DestroyMessageWindow();
}

HRESULT CLanternisCore::InitMapCall() {
  commands_.Clear();
  return S_OK;
}

STDMETHODIMP CLanternisCore::call(BSTR method, VARIANT param1, VARIANT param2, VARIANT* result) {
  return zv::GuardBoundary([&]() -> HRESULT {
    zv::Trace(L"MMMMM----进入call");
    // A null name stays a null BSTR, which the map compares as the empty name.
    zv::UniqueBstr key;
    RETURN_IF_FAILED(zv::UpperCaseCopy(method, &key));
    if (result) ::VariantInit(result);
    const Handler* handler = commands_.Find(key.get());
    if (handler == nullptr) {
      const zv::UniqueVariant empty;
      Fire_Notify(L"ErroMethod", *empty.get(), *empty.get());
      zv::Trace(L"MMMMM----call没找到要调用的函数");
      return S_OK;
    }
    // The web hall reports its outcomes through events; the handler's HRESULT
    // does not reach the caller.
    (this->**handler)(param1, param2, result);
    return S_OK;
  });
}

STDMETHODIMP CLanternisCore::OnReceiveData(const wchar_t*, IUnknown*) { return S_OK; }

bool CLanternisCore::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_COPYDATA:
      result = OnCopyData(reinterpret_cast<HWND>(wParam), reinterpret_cast<const COPYDATASTRUCT*>(lParam));
      return true;
    case WM_TIMER:
      result = OnTimer(static_cast<UINT_PTR>(wParam));
      return true;
    case WM_HOTKEY:
      result = OnHotKey(wParam, lParam);
      return true;
    case kIconDownloadedMessage:
      result = OnIconDownloaded(wParam, lParam);
      return true;
    case kMainThreadOperationMessage:
      result = OnMainThreadGameOperation(wParam, lParam);
      return true;
    case kLocalGameInfoMessage:
      result = OnLocalGameInfoLoaded(wParam, lParam);
      return true;
    default:
      return false;
  }
}

LRESULT CLanternisCore::OnCopyData(HWND, const COPYDATASTRUCT*) { return 0; }

LRESULT CLanternisCore::OnTimer(UINT_PTR) { return 0; }

LRESULT CLanternisCore::OnHotKey(WPARAM, LPARAM) { return 0; }

LRESULT CLanternisCore::OnIconDownloaded(WPARAM, LPARAM) { return 0; }

LRESULT CLanternisCore::OnMainThreadGameOperation(WPARAM, LPARAM) { return 0; }

LRESULT CLanternisCore::OnLocalGameInfoLoaded(WPARAM, LPARAM) { return 0; }
