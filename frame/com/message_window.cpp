#include "frame/com/message_window.h"

#include "common/hresult.h"

namespace zv {
namespace {

// Style bits of a default child window; the window is never shown.
constexpr DWORD kHallWindowStyle = 0x56000000;

}  // namespace

MessageWindow::~MessageWindow() { DestroyMessageWindow(); }

HRESULT MessageWindow::CreateMessageWindow(ComModule& module, const wchar_t* className, const wchar_t* text) {
  if (window_) return S_FALSE;
  RETURN_IF_FAILED(module.RegisterWindowClass(className, &MessageWindow::WindowProcedure));
  const HWND window = ::CreateWindowExW(0, className, text, kHallWindowStyle, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        module.Instance(), this);
  RETURN_LAST_ERROR_IF(window == nullptr);
  return S_OK;
}

void MessageWindow::DestroyMessageWindow() noexcept {
  if (!window_) return;
  // The owner may be half destroyed: no message of the teardown reaches it.
  const HWND window = window_;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
  window_ = nullptr;
  ::DestroyWindow(window);
}

LRESULT CALLBACK MessageWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  const HRESULT handled = GuardBoundary([&]() -> HRESULT {
    if (message == WM_NCCREATE) {
      auto* owner = static_cast<MessageWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      owner->window_ = window;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    }
    auto* owner = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY && owner) {
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      owner->window_ = nullptr;
      return S_FALSE;
    }
    if (owner && owner->ProcessWindowMessage(window, message, wParam, lParam, result)) return S_OK;
    return S_FALSE;
  });
  if (handled == S_OK) return result;
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace zv
