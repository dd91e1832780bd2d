// Owners of the handles the program holds, one kind each, none copyable:
// each handle goes back to the system in one place, whatever path the code
// takes. A kernel handle (a file, pipe, process, thread, job, event or
// snapshot) goes with CloseHandle; null and INVALID_HANDLE_VALUE both mean
// that it owns none, whichever one a call returns on failure.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

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

// Owns a handle of another kind: `Traits` names its type (Handle), what
// stands for none (None()) and how it is given back (Free()).
template <class Traits>
class UniqueOf {
 public:
  using H = typename Traits::Handle;
  UniqueOf() = default;
  explicit UniqueOf(H h) : h_(h) {}
  UniqueOf(UniqueOf&& other) noexcept : h_(std::exchange(other.h_, Traits::None())) {}
  UniqueOf& operator=(UniqueOf&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.h_, Traits::None()));
    return *this;
  }
  UniqueOf(const UniqueOf&) = delete;
  UniqueOf& operator=(const UniqueOf&) = delete;
  ~UniqueOf() { Reset(); }
  H Get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::None(); }
  // Where a call returns the handle through a pointer; the one owned goes.
  H* Receive() {
    Reset();
    return &h_;
  }
  void Reset(H h = Traits::None()) {
    if (h_ != Traits::None()) Traits::Free(h_);
    h_ = h;
  }

 private:
  H h_ = Traits::None();
};

struct KeyTraits {  // a registry key
  using Handle = HKEY;
  static HKEY None() { return nullptr; }
  static void Free(HKEY key) { RegCloseKey(key); }
};
struct FindTraits {  // a folder listing
  using Handle = HANDLE;
  static HANDLE None() { return INVALID_HANDLE_VALUE; }
  static void Free(HANDLE find) { FindClose(find); }
};
template <class T>
struct GdiTraits {  // a font, a region, ...
  using Handle = T;
  static T None() { return nullptr; }
  static void Free(T object) { DeleteObject(object); }
};
struct DcTraits {  // a memory device context
  using Handle = HDC;
  static HDC None() { return nullptr; }
  static void Free(HDC dc) { DeleteDC(dc); }
};
struct MenuTraits {
  using Handle = HMENU;
  static HMENU None() { return nullptr; }
  static void Free(HMENU menu) { DestroyMenu(menu); }
};
// Memory the shell hands out (paths, item lists).
template <class T>
struct CoMemoryTraits {
  using Handle = T*;
  static T* None() { return nullptr; }
  static void Free(T* memory) { CoTaskMemFree(memory); }
};

using UniqueKey = UniqueOf<KeyTraits>;
using UniqueFind = UniqueOf<FindTraits>;
using UniqueFont = UniqueOf<GdiTraits<HFONT>>;
using UniqueRegion = UniqueOf<GdiTraits<HRGN>>;
using UniqueMenu = UniqueOf<MenuTraits>;
using UniqueDc = UniqueOf<DcTraits>;
template <class T>
using UniqueCoMemory = UniqueOf<CoMemoryTraits<T>>;

// Holds one reference to a COM object.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ~ComPtr() { Reset(); }
  T* operator->() const { return p_; }
  T* Get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** Receive() {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace kestrin
