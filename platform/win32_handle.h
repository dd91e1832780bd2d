// Owns a Win32 kernel handle (a file, pipe, process, thread, job or
// snapshot) and closes it with CloseHandle. Null and INVALID_HANDLE_VALUE
// both mean that it owns none, whichever one a call returns on failure.
#pragma once

#include <windows.h>

namespace kestrin {

class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }

  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return Valid(); }
  // Gives the handle up without closing it.
  HANDLE Release() {
    HANDLE h = h_;
    h_ = nullptr;
    return h;
  }
  // Closes the handle owned (if any) and takes `h`. False when the close
  // failed; GetLastError says why.
  bool Reset(HANDLE h = nullptr) {
    const bool ok = !Valid() || CloseHandle(h_) != FALSE;
    h_ = h;
    return ok;
  }

 private:
  HANDLE h_ = nullptr;
};

}  // namespace kestrin
