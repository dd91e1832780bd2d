#include <windows.h>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/win32_platform.h"
#include "platform/win32_handle.h"
#include "platform/win32_registry.h"

namespace kestrin {
namespace {

class Win32Key : public RegistryKey {
 public:
  Win32Key(HKEY key, bool write, LONG open_status)
      : owned_(key), write_(write), open_status_(open_status), last_(open_status) {}
  bool IsOpen() const override { return owned_.Get() != nullptr; }
  bool Missing() const override { return !owned_.Get() && open_status_ == ERROR_FILE_NOT_FOUND; }
  bool HasValue(std::string_view name) override {
    if (!owned_.Get()) return false;
    return RegQueryValueExW(owned_.Get(), Widen(name).c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
  }
  RegRead ReadString(std::string_view name, std::string* out, bool* expandable) override {
    out->clear();
    if (!owned_.Get()) return open_status_ == ERROR_FILE_NOT_FOUND ? RegRead::Missing : RegRead::Failed;
    std::wstring wname = Widen(name);
    // The value may grow between the two calls; ask again until it fits.
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD type = 0, size = 0;
      LONG r = RegQueryValueExW(owned_.Get(), wname.c_str(), nullptr, &type, nullptr, &size);
      if (r != ERROR_SUCCESS) return Failure(r);
      if (type != REG_SZ && type != REG_EXPAND_SZ) return RegRead::WrongType;
      std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
      DWORD bytes = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
      r = RegQueryValueExW(owned_.Get(), wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                           &bytes);
      if (r == ERROR_MORE_DATA) continue;
      if (r != ERROR_SUCCESS) return Failure(r);
      if (type != REG_SZ && type != REG_EXPAND_SZ) return RegRead::WrongType;
      buf.resize(bytes / sizeof(wchar_t));
      while (!buf.empty() && buf.back() == L'\0') buf.pop_back();
      *out = Narrow(buf);
      if (expandable) *expandable = type == REG_EXPAND_SZ;
      return RegRead::Ok;
    }
    return Failure(ERROR_MORE_DATA);
  }
  bool ValueNames(std::vector<std::string>* out) override {
    out->clear();
    if (!owned_.Get()) {
      last_ = open_status_;
      return open_status_ == ERROR_FILE_NOT_FOUND;
    }
    DWORD count = 0, longest = 0;
    LONG r = RegQueryInfoKeyW(owned_.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                              &longest, nullptr, nullptr, nullptr);
    if (r != ERROR_SUCCESS) return Done(r);
    std::wstring name(longest + 1, L'\0');
    for (DWORD i = 0;; ++i) {
      DWORD length = static_cast<DWORD>(name.size());
      r = RegEnumValueW(owned_.Get(), i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (r == ERROR_NO_MORE_ITEMS) break;
      if (r == ERROR_MORE_DATA) {  // a longer name was added meanwhile
        name.assign(name.size() * 2 + 256, L'\0');
        --i;
        continue;
      }
      if (r != ERROR_SUCCESS) {
        out->clear();
        return Done(r);
      }
      out->push_back(Narrow(std::wstring_view(name.data(), length)));
    }
    return Done(ERROR_SUCCESS);
  }
  bool WriteString(std::string_view name, std::string_view data, bool expandable) override {
    if (!owned_.Get() || !write_) return Denied();
    std::wstring w = Widen(data);
    return Done(RegSetValueExW(owned_.Get(), Widen(name).c_str(), 0, expandable ? REG_EXPAND_SZ : REG_SZ,
                               reinterpret_cast<const BYTE*>(w.c_str()),
                               static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t))));
  }
  bool DeleteValue(std::string_view name) override {
    if (!owned_.Get() || !write_) return Denied();
    return Done(RegDeleteValueW(owned_.Get(), Widen(name).c_str()));
  }
  std::string LastError() const override { return SystemErrorText(static_cast<DWORD>(last_)); }

 private:
  RegRead Failure(LONG r) {
    last_ = r;
    return r == ERROR_FILE_NOT_FOUND ? RegRead::Missing : RegRead::Failed;
  }
  bool Done(LONG r) {
    last_ = r;
    return r == ERROR_SUCCESS;
  }
  bool Denied() {
    if (!owned_.Get() && open_status_ != ERROR_SUCCESS) last_ = open_status_;
    else last_ = ERROR_ACCESS_DENIED;
    return false;
  }
  UniqueKey owned_;  // the key, closed when this goes
  bool write_;
  LONG open_status_;
  LONG last_;
};

}  // namespace

// The key is written with its closing backslash; the API wants it without.
static std::wstring KeyPathW(std::string_view path) {
  std::string p(path);
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return Widen(p);
}

std::unique_ptr<RegistryKey> Win32Registry::Open(std::string_view path, RegAccess access) {
  HKEY key = nullptr;
  REGSAM sam = access == RegAccess::Read ? KEY_READ : (KEY_READ | KEY_SET_VALUE);
  LONG r = RegOpenKeyExW(HKEY_CURRENT_USER, KeyPathW(path).c_str(), 0, sam, &key);
  if (r != ERROR_SUCCESS) key = nullptr;
  return std::make_unique<Win32Key>(key, access == RegAccess::ReadWrite, r);
}

std::unique_ptr<RegistryKey> Win32Registry::Create(std::string_view path) {
  HKEY key = nullptr;
  LONG r = RegCreateKeyExW(HKEY_CURRENT_USER, KeyPathW(path).c_str(), 0, nullptr,
                           REG_OPTION_NON_VOLATILE, KEY_READ | KEY_SET_VALUE, nullptr, &key,
                           nullptr);
  if (r != ERROR_SUCCESS) key = nullptr;
  return std::make_unique<Win32Key>(key, true, r);
}

}  // namespace kestrin
