#include <windows.h>

#include "platform/registry.h"
#include "platform/text.h"
#include "platform/win32_registry.h"

namespace kestrin {
namespace {

class Win32Key : public RegistryKey {
 public:
  Win32Key(HKEY key, bool write) : key_(key), write_(write) {}
  ~Win32Key() override {
    if (key_) RegCloseKey(key_);
  }
  bool IsOpen() const override { return key_ != nullptr; }
  bool HasValue(std::string_view name) override {
    if (!key_) return false;
    return RegQueryValueExW(key_, Widen(name).c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
  }
  RegRead ReadString(std::string_view name, std::string* out) override {
    out->clear();
    if (!key_) return RegRead::Missing;
    std::wstring wname = Widen(name);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key_, wname.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      return RegRead::Missing;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return RegRead::WrongType;
    std::wstring buf(size / sizeof(wchar_t) + 1, L'\0');
    DWORD bytes = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key_, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                         &bytes) != ERROR_SUCCESS)
      return RegRead::Missing;
    buf.resize(bytes / sizeof(wchar_t));
    while (!buf.empty() && buf.back() == L'\0') buf.pop_back();
    *out = Narrow(buf);
    return RegRead::Ok;
  }
  bool WriteString(std::string_view name, std::string_view data) override {
    if (!key_ || !write_) return false;
    std::wstring w = Widen(data);
    return RegSetValueExW(key_, Widen(name).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(w.c_str()),
                          static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  bool DeleteValue(std::string_view name) override {
    if (!key_ || !write_) return false;
    return RegDeleteValueW(key_, Widen(name).c_str()) == ERROR_SUCCESS;
  }

 private:
  HKEY key_;
  bool write_;
};

}  // namespace

std::unique_ptr<RegistryKey> Win32Registry::Open(std::string_view path, RegAccess access) {
  // The key is written with its closing backslash; the API wants it without.
  std::string p(path);
  while (!p.empty() && p.back() == '\\') p.pop_back();
  HKEY key = nullptr;
  REGSAM sam = access == RegAccess::Read ? KEY_READ : (KEY_READ | KEY_SET_VALUE);
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Widen(p).c_str(), 0, sam, &key) != ERROR_SUCCESS)
    key = nullptr;
  return std::make_unique<Win32Key>(key, access == RegAccess::ReadWrite);
}

}  // namespace kestrin
