// The program's own registry store: the registry of the Linux build, where
// there is no Windows registry.
// It keeps keys and typed values in memory and reads and writes a text form:
//
//   [Software\Borland\Delphi\7.0]
//   "App"=sz:C:\Delphi7\bin\delphi32.exe
//   "RootDir"=expand:%ProgramFiles%\Borland\Delphi7
//   "Count"=dword:7
//
// Key and value names compare without regard to letter case, as in Windows.
#pragma once

#include <map>
#include <string>

#include "platform/registry.h"

namespace kestrin {

enum class RegType { Sz, ExpandSz, Dword, Binary };

struct RegValue {
  RegType type = RegType::Sz;
  std::string data;
};

class MemoryRegistry : public Registry {
 public:
  std::unique_ptr<RegistryKey> Open(std::string_view path, RegAccess access) override;
  std::unique_ptr<RegistryKey> Create(std::string_view path) override;

  // Direct access for set-up and checks.
  void CreateKey(std::string_view path);
  void Set(std::string_view key, std::string_view name, RegType type, std::string_view data);
  bool Get(std::string_view key, std::string_view name, RegValue* out) const;
  bool KeyExists(std::string_view key) const;
  bool Remove(std::string_view key, std::string_view name);

  bool LoadText(std::string_view text);  // false on a malformed line
  std::string DumpText() const;

 private:
  struct Key {
    std::string name;                   // as first written
    std::map<std::string, std::pair<std::string, RegValue>> values;  // lower-case name -> (name, value)
  };
  static std::string Canon(std::string_view path);  // lower case, no trailing '\'
  std::map<std::string, Key> keys_;
  friend class MemoryRegistryKey;
};

}  // namespace kestrin
