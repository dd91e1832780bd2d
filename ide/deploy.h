// The copy command: the compiled runtime packages into the folder that
// 32-bit programs load DLLs from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/command.h"
#include "core/session.h"
#include "core/target.h"

namespace kestrin {

struct CopyRequest {
  Target target;
};

// Copies every runtime package of the release's family found under the
// output folder into the system folder, one log line per package. Where the
// system folder takes no new file, the user is offered the output folder on
// the user's PATH instead. It is not `started` when nothing was done (no
// library folder, a running IDE the user would not go on with, or the offer
// refused). Its failures are the copies that failed (a PATH entry that could
// not be made counts as one).
CommandResult CopyRuntimePackages(Session& s, const CopyRequest& request);

// Copies every byte of `source` (opened without sharing) into `destination`,
// written beside it first under a name of its own
// ("<destination>.<process_id>-<n>.kestrin-tmp"), flushed to the disk and
// put in its place in one step. Both files are closed on every path.
// Returns the system's reason on failure.
std::optional<std::string> CopyFileByStream(FileSystem& fs, std::string_view source,
                                            std::string_view destination,
                                            std::uint32_t process_id);

// Removes the files in `folder` whose names end in kTemporaryEnding, left
// there by a run that ended before it could remove them; one log line for
// each (a file another run still writes stays, held open).
void RemoveTemporaryLeftovers(Session& s, const std::string& folder);

}  // namespace kestrin
