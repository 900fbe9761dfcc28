// A hidden message-only window owned by an object (the hall window). It lives
// on the thread that creates it, so its messages run there; other threads
// reach the owner with PostMessage or SendMessage. One window class per
// purpose (its name), registered once per module; the owner arrives through
// the create parameters. The owner destroys the window, at the latest in its
// destructor.
#pragma once

#include <windows.h>

#include "frame/com/module.h"

namespace zv {

class MessageWindow {
 public:
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  // Creates the window (parent HWND_MESSAGE) unless it exists already, in
  // which case the existing one is kept and S_FALSE returned.
  HRESULT CreateMessageWindow(ComModule& module, const wchar_t* className, const wchar_t* text);
  void DestroyMessageWindow() noexcept;
  HWND WindowHandle() const noexcept { return window_; }

 protected:
  MessageWindow() = default;
  virtual ~MessageWindow();

  // The owner's message map: true when it handled the message and set result.
  virtual bool ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
};

}  // namespace zv
