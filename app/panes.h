#pragma once
#include <string>
#include <string_view>

namespace kestrin {
// Line breaks of any kind become CR LF; zero bytes become blanks.
std::string ToCrLf(std::string_view text);
// The text one log entry adds to the pane: its lines, each ended by CR LF.
std::string LogEntry(std::string_view text);
// The file a chosen save name is written to: ".txt" is added unless the
// name already ends in it (letter case aside).
std::string SaveLogPath(std::string_view chosen);
}  // namespace kestrin
