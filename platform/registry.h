// The current user's registry (HKEY_CURRENT_USER only). Keys are opened as
// the caller writes them and are never created by the program.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kestrin {

enum class RegAccess { Read, ReadWrite };

enum class RegRead { Ok, Missing, WrongType };

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  virtual bool IsOpen() const = 0;
  virtual bool HasValue(std::string_view name) = 0;
  // REG_SZ and REG_EXPAND_SZ (unexpanded) read as text; any other type is
  // WrongType. A key that failed to open reads every value as Missing.
  virtual RegRead ReadString(std::string_view name, std::string* out) = 0;
  // Writes REG_SZ, replacing a value of the same name.
  virtual bool WriteString(std::string_view name, std::string_view data) = 0;
  virtual bool DeleteValue(std::string_view name) = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // `path` is below HKEY_CURRENT_USER, e.g. "Software\Borland\Delphi\7.0\".
  // Never fails outright: a missing key gives a key object that is not open.
  virtual std::unique_ptr<RegistryKey> Open(std::string_view path, RegAccess access) = 0;
};

}  // namespace kestrin
