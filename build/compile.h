#pragma once
#include <array>
#include <string>
#include <string_view>

namespace kestrin {
class App;
// The 35 product folders whose "Sources" the compiler searches.
extern const std::array<std::string_view, 35> kProductSourceFolders;
// LibraryRoot + "Library\" + IdeLongSuffix.
std::string OutputFolder(const App& app);
// Shows the notice for a missing library folder; true when one is missing.
bool LibraryFolderMissing(App& app);
class FileIndex;
// One log line for each folder that a search could not read.
void LogWalkFailures(App& app, const FileIndex& index);
}  // namespace kestrin
