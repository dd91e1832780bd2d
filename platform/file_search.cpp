#include "platform/file_search.h"

#include <set>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace kestrin {

bool IsDotEntry(std::string_view name) { return name == "." || name == ".."; }

static std::string WithBackslash(std::string_view folder) {
  std::string f(folder);
  if (f.empty() || f.back() != '\\') f += '\\';
  return f;
}

static bool Enterable(const DirEntry& e) {
  return e.IsDir() && !(e.attributes & (kAttrHidden | kAttrSystem)) && !IsDotEntry(e.name);
}

namespace {

// The walk both searches share. `files` sees every file of every folder
// visited, with `via_link` true inside a folder reached through a link.
class FolderWalk {
 public:
  using FileVisitor = std::function<void(const std::string& dir, const DirEntry&, bool via_link)>;
  FolderWalk(FileSystem& fs, const std::function<void()>& pump, FileVisitor files,
             std::vector<WalkFailure>* failures)
      : fs_(fs), pump_(pump), files_(std::move(files)), failures_(failures) {}

  void Run(const std::string& root) {
    Visit(root, false, false);
    // Links last: what they lead to may already have been walked in place.
    for (std::size_t i = 0; i < links_.size(); ++i) Visit(links_[i], true, true);
  }

 private:
  void Visit(const std::string& dir, bool via_link, bool is_link) {
    // Some network file systems give every file the index 0: no identity
    // then, and a real folder is walked by its path alone (the real tree
    // has no loops). A link without one may lead back up the tree, again
    // on every pass: it is not followed.
    FileInfo info;
    const bool inspected = fs_.Inspect(dir, &info);
    if (inspected && info.id.Known()) {
      if (!seen_.insert(info.id).second) return;
    } else if (is_link) {
      if (failures_)
        failures_->push_back(
            {dir, inspected ? std::string() : fs_.LastError(), WalkFailure::Kind::LinkNotFollowed});
      return;
    }
    std::vector<DirEntry> entries;
    if (!fs_.ListDir(dir, &entries)) {
      std::string reason = fs_.LastError();
      if (failures_ && fs_.Probe(dir) != PathKind::Missing) failures_->push_back({dir, reason});
    }
    for (const DirEntry& e : entries)
      if (!e.IsDir()) files_(dir, e, via_link);
    for (const DirEntry& e : entries) {
      if (!Enterable(e)) continue;
      if (e.attributes & kAttrReparsePoint) links_.push_back(dir + e.name + "\\");
      else Visit(dir + e.name + "\\", via_link, false);
    }
    if (pump_) pump_();
  }

  FileSystem& fs_;
  const std::function<void()>& pump_;
  FileVisitor files_;
  std::vector<WalkFailure>* failures_;
  std::set<FileId> seen_;
  std::vector<std::string> links_;
};

}  // namespace

std::optional<FoundFile> FindFileRecursive(FileSystem& fs, std::string_view folder,
                                           std::string_view pattern,
                                           const std::function<void()>& pump) {
  if (folder.empty()) return std::nullopt;  // never a path relative to the current folder
  std::optional<FoundFile> hit;
  bool found_in_place = false;
  FolderWalk walk(fs, pump, [&](const std::string& dir, const DirEntry& e, bool via_link) {
    if (!EqualsNoCase(e.name, pattern) || (via_link && found_in_place)) return;
    found_in_place = found_in_place || !via_link;
    hit = FoundFile{e.name, dir + e.name, {}};
  }, nullptr);
  walk.Run(WithBackslash(folder));
  return hit;
}

void FileIndex::Build(FileSystem& fs, std::string_view folder, std::string_view extension,
                      const std::function<void()>& pump) {
  hits_.clear();
  failures_.clear();
  extension_ = ToLowerAscii(extension);
  if (folder.empty()) return;
  FolderWalk walk(fs, pump, [this](const std::string& dir, const DirEntry& e, bool via_link) {
    if (!EndsWithNoCase(e.name, extension_)) return;
    std::string key = ToLowerAscii(e.name);
    auto it = hits_.find(key);
    if (it == hits_.end()) {
      hits_.emplace(std::move(key), FoundFile{e.name, dir + e.name, {}});
      return;
    }
    if (via_link) return;
    FoundFile& hit = it->second;
    hit.others.push_back(std::move(hit.path));
    hit.name = e.name;
    hit.path = dir + e.name;
  }, &failures_);
  walk.Run(WithBackslash(folder));
}

const FoundFile* FileIndex::Find(std::string_view name) const {
  auto it = hits_.find(ToLowerAscii(name));
  return it == hits_.end() ? nullptr : &it->second;
}

}  // namespace kestrin
