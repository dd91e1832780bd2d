// ';'-separated folder lists: the IDE's search path and the user's PATH.
// Entries compare with blanks around them, letter case and a trailing
// backslash aside.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

// The list's entries: blanks around each and double quotes around a whole
// entry dropped, empty entries left out.
std::vector<std::string> FolderListEntries(std::string_view list);
// `path` with every slash made a backslash.
std::string Backslashes(std::string path);
// The form by which an entry is compared.
std::string FolderListKey(std::string_view entry);
// Appends the folders the list does not hold yet. Empty folders are never
// added, and the user's entries keep their order.
std::string MergeSearchPath(std::string_view old_value, const std::vector<std::string>& folders);
// The list with `folder` added at the end, or nullopt when an entry names it.
std::optional<std::string> AddPathEntry(std::string_view value, std::string_view folder);
// The list without the entries that name `folder`, every other entry kept as
// it is and in order; nullopt when none names it.
std::optional<std::string> RemovePathEntry(std::string_view value, std::string_view folder);

}  // namespace kestrin
