// What the tool relies on in the IDE's registry settings: the keys below a
// release's base key, and reading and writing their text values.
#pragma once

#include <string>
#include <string_view>

#include "catalogue/ide_profiles.h"
#include "core/session.h"
#include "platform/registry.h"

namespace kestrin {

// A registry failure that stops the running command; its text is shown.
class RegistryError : public CommandError {
 public:
  using CommandError::CommandError;
};

// Reads a text value; absent (or in a key that does not exist) reads as "".
// A value that is there but cannot be read throws "Failed to get data for
// '<name>': <reason>".
// Any other type throws "Invalid data type for '<name>'".
// `expandable`, when given, is set when the value is read and tells whether
// it is REG_EXPAND_SZ; an absent value leaves it as it was.
std::string ReadStringValue(RegistryKey& key, std::string_view name, bool* expandable = nullptr);
// Writes REG_SZ (REG_EXPAND_SZ when `expandable`) or throws "Failed to set
// data for '<name>'".
void WriteStringValue(RegistryKey& key, std::string_view name, std::string_view data,
                      bool expandable = false);

std::string LibraryKey(const IdeProfile& ide);           // base + "Library\"
std::string KnownPackagesKey(const IdeProfile& ide);     // base + "Known Packages\"
std::string DisabledPackagesKey(const IdeProfile& ide);  // base + "Disabled Packages\"
std::string GlobalsKey(const IdeProfile& ide);           // base + "Globals\"

}  // namespace kestrin
