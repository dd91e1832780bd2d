// A running IDE writes its own settings back when it exits and holds its
// packages open: commands that change either ask before they go on. Every
// command opens with the same checks in the same order.
#pragma once

#include "core/command.h"
#include "core/session.h"
#include "core/target.h"

namespace kestrin {

// True when the command may go on: `release` (if any) is not running, or
// the user said Yes to going on while it runs.
bool ConfirmIdeClosed(Session& s, const IdeProfile* release);

struct StartChecks {
  bool library = true;    // a library folder must be chosen
  bool ideClosed = true;  // the release's IDE must not run, or the user goes on anyway
};

// The checks that open a command, always in this order: the library folder
// (a notice when none is chosen), then the release's IDE (a question when it
// runs). False when the command is not to go on; `result` then says why.
bool CommandMayStart(Session& s, const Target& target, StartChecks checks, CommandResult& result);

}  // namespace kestrin
