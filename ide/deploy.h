// The copy command: the compiled runtime packages into the folder that
// 32-bit programs load DLLs from.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/session.h"

namespace kestrin {

// Copies every runtime package of the release's family found under the
// output folder into the system folder, one log line per package. Where the
// system folder takes no new file, the user is offered the output folder on
// the user's PATH instead. Returns CopyEnded, or None when nothing was done
// (no library folder, a running IDE the user would not go on with, or the
// offer refused).
StateEvent CopyRuntimePackages(Session& s);

// Copies every byte of `source` (opened without sharing) into `destination`,
// written beside it first and put in its place in one step. Both files are
// closed on every path. Returns the system's reason on failure.
std::optional<std::string> CopyFileByStream(FileSystem& fs, std::string_view source,
                                            std::string_view destination);

}  // namespace kestrin
