// The current user's PATH (HKEY_CURRENT_USER\Environment, value Path): where
// the copy puts the output folder when the system folder takes no new file.
#pragma once

#include <string_view>

#include "core/session.h"
#include "core/target.h"

namespace kestrin {

// Where the program records each PATH entry it added: one REG_SZ value per
// folder, named by the folder. An entry without a record is the user's own.
inline constexpr std::string_view kUserPathRecordKey = "Software\\Kestrin\\UserPath\\";

// Adds the output folder, in its long form, records that the program added
// it, logs what was done and tells running programs. A folder that holds ';'
// or '%' or is not fully qualified is refused with a log line. The value
// keeps its type (a new one is REG_EXPAND_SZ, as Windows makes it). Throws
// RegistryError when the value or the record cannot be read or written.
// Adding returns whether the folder is on PATH now. `reason`, when given,
// closes the line that says the folder was added, in parentheses.
bool AddOutputFolderToUserPath(Session& s, const Target& target, std::string_view reason = {});
// Removes the output folder's entry when the record says the program added
// it, then the record; an entry the user made stays. Logs what was done,
// kept or could not be done; returns false when an entry or a record the
// program made could not be removed, or PATH could not be checked.
bool RemoveOutputFolderFromUserPath(Session& s, const Target& target);

}  // namespace kestrin
