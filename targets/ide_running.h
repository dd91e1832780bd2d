// A running IDE writes its own settings back when it exits and holds its
// packages open: commands that change either ask before they go on.
#pragma once

#include "core/session.h"

namespace kestrin {

// True when the command may go on: the chosen release's IDE is not running,
// or the user said Yes to going on while it runs.
bool ConfirmIdeClosed(Session& s);

}  // namespace kestrin
