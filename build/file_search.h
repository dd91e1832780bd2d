// Finding package files anywhere below a folder.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/tool_context.h"
#include "platform/filesystem.h"

namespace kestrin {

bool IsDotEntry(std::string_view name);
std::string ReplaceAllOccurrences(std::string text, std::string_view old_text,
                                  std::string_view new_text);

// A folder that a walk could not read, and why.
struct WalkFailure {
  std::string folder, reason;
};

// Walks `folder` pre-order, depth first: a folder's matching files (hidden
// and system files too) before its subfolders, hidden and system folders not
// entered, entries in name order. Every hit overwrites FoundFileName and
// FoundFilePath, so the last hit in that order remains; nothing is cleared
// when there is no hit. Names match without regard to letter case. `pump`,
// when given, runs once per folder visited.
//
// No folder is visited twice (folders are told apart by the system's
// identity, not by path), so a link that leads back up the tree ends the
// walk there. Folders that are links are walked last, after the real tree,
// and a file found through one counts only when no real folder holds it.
void FindFileRecursive(ToolContext& ctx, FileSystem& fs, std::string_view folder,
                       std::string_view pattern, const std::function<void()>& pump);

// The same walk done once for many look-ups: it records, for every file name
// (letter case aside) with the given extension, the last hit in that order.
class FileIndex {
 public:
  void Build(FileSystem& fs, std::string_view folder, std::string_view extension,
             const std::function<void()>& pump);
  // Sets the two fields as FindFileRecursive would for this name.
  bool Find(ToolContext& ctx, std::string_view name) const;
  std::size_t size() const { return hits_.size(); }
  // Folders below the start that exist but could not be read.
  const std::vector<WalkFailure>& failures() const { return failures_; }

 private:
  std::string extension_;
  std::unordered_map<std::string, std::pair<std::string, std::string>> hits_;
  std::vector<WalkFailure> failures_;
};

}  // namespace kestrin
