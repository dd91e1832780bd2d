// The current user's registry (HKEY_CURRENT_USER only). Keys are opened as
// the caller writes them; the program creates only its own record of the
// PATH entries it added (Create), never a key of the IDE or of Windows.
//
// Failures are reported as everywhere in the platform layer: the call's
// result says that it failed, and LastError() (here: of the key) says why.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

enum class RegAccess { Read, ReadWrite };

// Failed: the value may exist but could not be read (access denied, ...).
enum class RegRead { Ok, Missing, WrongType, Failed };

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  virtual bool IsOpen() const = 0;
  // True when the key is not open because it does not exist; a key that is
  // there but could not be opened is not missing, and LastError() says why.
  virtual bool Missing() const = 0;
  virtual bool HasValue(std::string_view name) = 0;
  // REG_SZ and REG_EXPAND_SZ (unexpanded) read as text; any other type is
  // WrongType. A key that does not exist reads every value as Missing, one
  // that could not be opened as Failed. `expandable`, when given, tells
  // whether the value is REG_EXPAND_SZ.
  virtual RegRead ReadString(std::string_view name, std::string* out,
                             bool* expandable = nullptr) = 0;
  // The names of the key's values, of whatever type, as the key holds
  // them. False (and none) when the key is not open or cannot be read; a
  // key that does not exist has none, and that is no failure.
  virtual bool ValueNames(std::vector<std::string>* out) = 0;
  // Writes REG_SZ (REG_EXPAND_SZ when `expandable`), replacing a value of
  // the same name.
  virtual bool WriteString(std::string_view name, std::string_view data,
                           bool expandable = false) = 0;
  virtual bool DeleteValue(std::string_view name) = 0;
  // The system's reason for the last failure of this key, as text.
  virtual std::string LastError() const = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // `path` is below HKEY_CURRENT_USER, e.g. "Software\Borland\Delphi\7.0\".
  // Never fails outright: a missing key gives a key object that is not open.
  virtual std::unique_ptr<RegistryKey> Open(std::string_view path, RegAccess access) = 0;
  // Opens `path` for reading and writing, creating it (and its missing
  // parents) first when it does not exist. A key object that is not open
  // when that fails.
  virtual std::unique_ptr<RegistryKey> Create(std::string_view path) = 0;
};

}  // namespace kestrin
