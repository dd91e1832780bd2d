#pragma once
#include <string>
#include <string_view>

namespace kestrin {
class FileSystem;
enum class DeleteResult { Deleted, Failed, Missing };
// Rewrites a file as "X" characters and CR LF (keeping its length), then
// deletes it. A file that another name also leads to (a hard link, a
// symbolic link) keeps its content: only this name is removed. Missing
// means "not found" and nothing else; any other failure is Failed, with the
// system's reason in `reason` when given.
DeleteResult OverwriteAndDeleteFile(FileSystem& fs, std::string_view path,
                                    std::string* reason = nullptr);
}  // namespace kestrin
