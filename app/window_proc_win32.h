// The window procedure of a window that is one object: the object passed to
// CreateWindowExW as its creation parameter handles every message (its
// Handle), knows its window (its hwnd_) from WM_NCCREATE on, and no
// exception unwinds through the system's code.
#pragma once

#include <windows.h>

namespace kestrin {

template <class T>
LRESULT CALLBACK ObjectWindowProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(l);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    static_cast<T*>(cs->lpCreateParams)->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, w, l);
  try {
    return self->Handle(msg, w, l);
  } catch (...) {
    return DefWindowProcW(hwnd, msg, w, l);
  }
}

}  // namespace kestrin
