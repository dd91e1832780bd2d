// The verify command: which packages of the build list have no compiled
// package in the output folder.
#pragma once

#include "core/session.h"

namespace kestrin {

// Ticks exactly the packages whose .bpl is missing (so that compiling again
// builds only those) and names each in the log, with the reason when the
// last compile run of the release failed it. Returns VerifyEnded: copy
// and install may go on, whatever is missing. Without a chosen release the
// suffixes of Delphi 7 are taken, and kept.
StateEvent Verify(Session& s);

}  // namespace kestrin
