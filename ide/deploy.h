#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace kestrin {
class App;
class FileSystem;
std::string GetSystemFolder(App& app);
// Copies every byte of `source` (opened without sharing) into `destination`
// (created or emptied, without sharing). Both files are closed on every
// path. Returns the system's reason on failure.
std::optional<std::string> CopyFileByStream(FileSystem& fs, std::string_view source,
                                            std::string_view destination);
}  // namespace kestrin
