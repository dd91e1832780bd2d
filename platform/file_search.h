// Finding files by name anywhere below a folder: the package projects in the
// library tree, the compiled packages in the output folder.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/filesystem.h"

namespace kestrin {

bool IsDotEntry(std::string_view name);

// A file a search found: its name as the folder listing spells it, and its
// folder (ending in a backslash) followed by that name.
struct FoundFile {
  std::string name;
  std::string path;
  // In a FileIndex: the other files of that name the walk met before this
  // one, in walk order.
  std::vector<std::string> others;
};

// A folder that a walk could not read, or a folder link it did not follow
// because the identity of what the link leads to is unknown (the system's
// reason when asking for it failed; empty when the volume gives none).
struct WalkFailure {
  enum class Kind { Unreadable, LinkNotFollowed };
  std::string folder, reason;
  Kind kind = Kind::Unreadable;
};

// Walks `folder` pre-order, depth first: a folder's matching files (hidden
// and system files too) before its subfolders, hidden and system folders not
// entered, entries in name order. Names match without regard to letter case.
// Returns the last hit in that order, or nothing. `pump`, when given, runs
// once per folder visited; an empty folder searches nothing.
//
// No folder is visited twice (folders are told apart by the system's
// identity, not by path), so a link that leads back up the tree ends the
// walk there. Folders that are links are walked last, after the real tree,
// and a file found through one counts only when no real folder holds it.
// Where a volume gives no identity, its real folders are walked by path
// and its links are not followed: nothing would tell a loop.
std::optional<FoundFile> FindFileRecursive(FileSystem& fs, std::string_view folder,
                                           std::string_view pattern,
                                           const std::function<void()>& pump);

// The same walk done once for many look-ups: it records, for every file name
// (letter case aside) with the given extension, the hit FindFileRecursive
// would give.
class FileIndex {
 public:
  void Build(FileSystem& fs, std::string_view folder, std::string_view extension,
             const std::function<void()>& pump);
  // The hit for `name`, or null.
  const FoundFile* Find(std::string_view name) const;
  std::size_t size() const { return hits_.size(); }
  // Folders below the start that exist but could not be read, and links
  // not followed, each once.
  const std::vector<WalkFailure>& failures() const { return failures_; }

 private:
  std::string extension_;
  std::unordered_map<std::string, FoundFile> hits_;
  std::vector<WalkFailure> failures_;
};

}  // namespace kestrin
