#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {
// Appends to a ';'-separated search path the folders it does not hold yet
// (letter case and a trailing backslash aside). Empty folders are never
// added, and the user's entries keep their order.
std::string MergeSearchPath(std::string_view old_value, const std::vector<std::string>& folders);
}  // namespace kestrin
