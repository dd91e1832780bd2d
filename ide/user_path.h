// The current user's PATH (HKEY_CURRENT_USER\Environment, value Path): where
// the copy puts the output folder when the system folder takes no new file.
#pragma once

#include "core/session.h"

namespace kestrin {

// Adds or removes the output folder, logs what was done and tells running
// programs. The value keeps its type (a new one is REG_EXPAND_SZ, as Windows
// makes it). Adding throws RegistryError on failure; removing logs it.
void AddOutputFolderToUserPath(Session& s);
void RemoveOutputFolderFromUserPath(Session& s);

}  // namespace kestrin
