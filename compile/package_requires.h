// The packages a package project (.dpk) requires, read as the compiler reads
// its requires clause: the file in UTF-8 (with or without a byte-order mark),
// an ANSI code page or UTF-16 with a byte-order mark; comments ({ }, (* *),
// //) and compiler directives skipped, over as many lines as it takes, names
// in any letter case, a dotted name in one piece whatever blanks or comments
// surround its dots. Where a directive chooses between names, or between
// whole clauses, the names of every branch are taken, and a ';' that ends
// one branch does not end the clause: waiting for a package too many is
// harmless, starting before one that is needed is not. Each name is given
// once (letter case aside), where it first appears.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

// The names of the requires clause (none when the project has no clause), or
// nothing when the file is not a package project or its clause is not one
// the compiler would take (it never ends, it lacks its final ';').
std::optional<std::vector<std::string>> ReadRequiredPackages(std::string_view project_bytes);

}  // namespace kestrin
