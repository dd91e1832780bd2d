#include "build/file_search.h"

#include <vector>

#include "platform/text.h"

namespace kestrin {

bool IsDotEntry(std::string_view name) { return name == "." || name == ".."; }

std::string ReplaceAllOccurrences(std::string text, std::string_view old_text,
                                  std::string_view new_text) {
  if (old_text.empty()) return text;
  // A new text holding the old one would never end; it is replaced once.
  const bool once = new_text.find(old_text) != std::string_view::npos;
  std::size_t p = text.find(old_text);
  while (p != std::string::npos) {
    text.replace(p, old_text.size(), new_text);
    if (once) break;
    p = text.find(old_text);
  }
  return text;
}

static std::string WithBackslash(std::string_view folder) {
  std::string f(folder);
  if (f.empty() || f.back() != '\\') f += '\\';
  return f;
}

static bool Enterable(const DirEntry& e) {
  return e.IsDir() && !(e.attributes & (kAttrHidden | kAttrSystem)) && !IsDotEntry(e.name);
}

void FindFileRecursive(ToolContext& ctx, FileSystem& fs, std::string_view folder,
                       std::string_view pattern, const std::function<void()>& pump) {
  if (folder.empty()) return;  // never a path relative to the current folder
  const std::string dir = WithBackslash(folder);
  std::vector<DirEntry> entries;
  fs.ListDir(dir, &entries);
  for (const DirEntry& e : entries) {
    if (!e.IsDir() && EqualsNoCase(e.name, pattern)) {
      ctx.FoundFileName = e.name;
      ctx.FoundFilePath = dir + e.name;
    }
  }
  for (const DirEntry& e : entries)
    if (Enterable(e)) FindFileRecursive(ctx, fs, dir + e.name, pattern, pump);
  if (pump) pump();
}

void FileIndex::Build(FileSystem& fs, std::string_view folder, std::string_view extension,
                      const std::function<void()>& pump) {
  hits_.clear();
  extension_ = ToLowerAscii(extension);
  if (!folder.empty()) Walk(fs, WithBackslash(folder), pump);
}

void FileIndex::Walk(FileSystem& fs, const std::string& dir, const std::function<void()>& pump) {
  std::vector<DirEntry> entries;
  fs.ListDir(dir, &entries);
  for (const DirEntry& e : entries)
    if (!e.IsDir() && EndsWithNoCase(e.name, extension_))
      hits_[ToLowerAscii(e.name)] = {e.name, dir + e.name};
  for (const DirEntry& e : entries)
    if (Enterable(e)) Walk(fs, dir + e.name + "\\", pump);
  if (pump) pump();
}

bool FileIndex::Find(ToolContext& ctx, std::string_view name) const {
  auto it = hits_.find(ToLowerAscii(name));
  if (it == hits_.end()) return false;
  ctx.FoundFileName = it->second.first;
  ctx.FoundFilePath = it->second.second;
  return true;
}

}  // namespace kestrin
