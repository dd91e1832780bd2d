// The packages a package project (.dpk) requires, read as the compiler reads
// its requires clause: comments ({ }, (* *), //) and compiler directives
// ({$IFDEF ...}) skipped, over as many lines as it takes, names in any
// letter case. Where a directive chooses between names, the names of every
// branch are taken: waiting for a package too many is harmless, starting
// before one that is needed is not.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

// The names of the requires clause (none when the project has no clause), or
// nothing when the text is not a package project or the clause never ends.
std::optional<std::vector<std::string>> ReadRequiredPackages(std::string_view project_text);

}  // namespace kestrin
