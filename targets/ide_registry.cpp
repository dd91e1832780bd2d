#include "targets/ide_registry.h"

namespace kestrin {

std::string ReadStringValue(RegistryKey& key, std::string_view name, bool* expandable) {
  std::string out;
  bool is_expandable = false;
  switch (key.ReadString(name, &out, &is_expandable)) {
    case RegRead::WrongType:
      throw RegistryError("Invalid data type for '" + std::string(name) + "'");
    case RegRead::Failed:
      // Only an absent value reads as empty: a value that is there but
      // unreadable must not be taken for empty and then overwritten.
      throw RegistryError("Failed to get data for '" + std::string(name) + "': " + key.LastError());
    case RegRead::Ok:
      if (expandable) *expandable = is_expandable;
      return out;
    case RegRead::Missing:
      break;
  }
  return out;
}

void WriteStringValue(RegistryKey& key, std::string_view name, std::string_view data,
                      bool expandable) {
  if (!key.WriteString(name, data, expandable))
    throw RegistryError("Failed to set data for '" + std::string(name) + "'");
}

std::string LibraryKey(const IdeProfile& ide) { return std::string(ide.baseKey) + "Library\\"; }
std::string KnownPackagesKey(const IdeProfile& ide) {
  return std::string(ide.baseKey) + "Known Packages\\";
}
std::string DisabledPackagesKey(const IdeProfile& ide) {
  return std::string(ide.baseKey) + "Disabled Packages\\";
}
std::string GlobalsKey(const IdeProfile& ide) { return std::string(ide.baseKey) + "Globals\\"; }

}  // namespace kestrin
