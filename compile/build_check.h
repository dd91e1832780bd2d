// Before the first compiler starts: which ticked packages cannot be built
// here, because a package they require is neither compiled by this run
// before them nor a .dcp the compiler will find. Such a package would only
// fail after its compiler's start, and every ticked package that needs it
// with it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compile/compile_plan.h"
#include "core/session.h"
#include "core/target.h"
#include "targets/compiler_config.h"

namespace kestrin {

// The folders the compiler looks in for a required package's .dcp, as the
// program runs it: the output folder (where -LN writes), the folders of the
// command line's search path (-U: the output folder and every product's
// Sources), the IDE's Lib folder, and the -U folders of the dcc32.cfg beside
// dcc32.exe (none when it is missing or cannot be read).
std::vector<std::string> DcpFolders(Session& s, const Target& target);

struct BuildCheck {
  // For each ticked package (in list order): the .dcp it cannot be built
  // without ("dxCoreD7.dcp", as its clause or the clause of a ticked package
  // it needs names it), or empty when it can be built.
  std::vector<std::string> missing;
  // The lines the log gets, in order; none when everything can be built.
  std::vector<std::string> lines;
};

// `files`: the ticked packages' project files ("dxCoreD7.dpk"), `modules`:
// the names requires clauses give them ("dxCoreD7"), both in list order;
// `requires_of(i)`: package i's clause (Known), its project found but not
// readable (Unknown), or no project at all (NotInLibrary: the compiler will
// say so). A package whose project cannot be read or has no clause is not
// checked, and a line says so.
BuildCheck CheckBuildable(FileSystem& fs, const std::vector<std::string>& files,
                          const std::vector<std::string>& modules,
                          const std::function<Requires(std::size_t)>& requires_of,
                          const std::vector<std::string>& dcp_folders);

}  // namespace kestrin
