// The command pane, the log pane and their buttons.
#pragma once
#include <string>
#include <string_view>

#include "core/session.h"

namespace kestrin {

// The library's community forum, opened by the link in the window.
inline constexpr std::string_view kForumUrl = "https://supportcenter.devexpress.com/";

// Line breaks of any kind become CR LF; zero bytes become blanks.
std::string ToCrLf(std::string_view text);
// The text one log entry adds to the pane: its lines, each ended by CR LF.
std::string LogEntry(std::string_view text);
// The file a chosen save name is written to: ".txt" is added unless the
// name already ends in it (letter case aside).
std::string SaveLogPath(std::string_view chosen);
// The log page's menu entry: `log` (the pane's text) as GBK text, into a
// file the user names.
void SaveLog(Session& s, std::string_view log);

}  // namespace kestrin
