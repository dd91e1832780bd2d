#pragma once
#include <string_view>

namespace kestrin {
class FileSystem;
enum class DeleteResult { Deleted, Failed, Missing };
// Rewrites a file as "X" characters and CR LF (keeping its length), then
// deletes it. A missing file is left missing and reported as such.
DeleteResult OverwriteAndDeleteFile(FileSystem& fs, std::string_view path);
}  // namespace kestrin
