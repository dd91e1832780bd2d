// The verify command: which packages of the build list have no compiled
// package in the output folder.
#pragma once

#include <vector>

#include "compile/compile.h"

namespace kestrin {

struct VerifyRequest {
  Target target;
  const PackageList& packages;
  // The last compile run of this release, if any: the packages it failed
  // are named with the reason.
  const CompileHistory* last = nullptr;
};

struct VerifyResult : CommandResult {
  std::vector<std::size_t> missing;  // the rows to tick: their .bpl is missing
  std::vector<std::string> reasons;  // for each of them: why, or empty
};

// Names each package of the build list whose .bpl is missing, is no package
// module of the IDE's bitness (cut short, not a module, no PACKAGEINFO: read
// from its headers and resource directory only), or that the last compile
// run of the release failed (whatever older .bpl remains), in the log, with
// the reason when that run failed it or the file is no package; the
// caller ticks exactly those rows, so that compiling again builds only them.
// Once it ran, copy and install may go on, whatever is missing. Without a
// chosen release the file names of Delphi 7 are taken.
VerifyResult Verify(Session& s, const VerifyRequest& request);

}  // namespace kestrin
