#pragma once
#include <string>
#include <string_view>

namespace kestrin {
inline constexpr std::string_view kMarkerFolder = "XP Theme Manager";
// Trims blanks and control characters; a non-empty result ends in '\'.
std::string NormalizeFolderPath(std::string_view path);
// Joins a folder and a name with exactly one backslash between them.
std::string JoinPath(std::string_view folder, std::string_view name);
class App;
void StartupFolderCheck(App& app);
// The notice for a folder that is not the library's.
void ShowFolderNotice(App& app);
}  // namespace kestrin
