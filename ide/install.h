#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {
// The form by which an entry of a ';'-separated folder list is compared:
// blanks around it, letter case and a trailing backslash aside.
std::string FolderListKey(std::string_view entry);
// Appends to a ';'-separated search path the folders it does not hold yet
// (letter case and a trailing backslash aside). Empty folders are never
// added, and the user's entries keep their order.
std::string MergeSearchPath(std::string_view old_value, const std::vector<std::string>& folders);
}  // namespace kestrin
