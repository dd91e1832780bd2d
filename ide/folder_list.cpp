#include "ide/folder_list.h"

#include <algorithm>
#include <unordered_set>

#include "platform/text.h"

namespace kestrin {

std::vector<std::string> FolderListEntries(std::string_view list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string item = Trim(list.substr(start, end - start));
    if (item.size() >= 2 && item.front() == '"' && item.back() == '"') item = item.substr(1, item.size() - 2);
    if (!item.empty()) items.push_back(item);
    start = end + 1;
  }
  return items;
}

std::string Backslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string FolderListKey(std::string_view folder) {
  std::string k = ToLowerAscii(Trim(folder));
  while (!k.empty() && (k.back() == '\\' || k.back() == '/')) k.pop_back();
  return k;
}

std::string MergeSearchPath(std::string_view old_value, const std::vector<std::string>& folders) {
  std::unordered_set<std::string> seen;
  std::size_t start = 0;
  while (start <= old_value.size()) {
    std::size_t end = old_value.find(';', start);
    if (end == std::string_view::npos) end = old_value.size();
    seen.insert(FolderListKey(old_value.substr(start, end - start)));
    start = end + 1;
  }
  std::string result(old_value);
  for (const std::string& f : folders) {
    std::string key = FolderListKey(f);
    if (key.empty() || !seen.insert(std::move(key)).second) continue;
    if (!result.empty() && result.back() != ';') result += ';';
    result += f;
  }
  return result;
}

std::optional<std::string> AddPathEntry(std::string_view value, std::string_view folder) {
  std::string merged = MergeSearchPath(value, {std::string(folder)});
  if (merged == value) return std::nullopt;
  return merged;
}

std::optional<std::string> RemovePathEntry(std::string_view value, std::string_view folder) {
  const std::string key = FolderListKey(folder);
  std::string out;
  bool removed = false, first = true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = value.find(';', start);
    const std::string_view entry =
        value.substr(start, end == std::string_view::npos ? end : end - start);
    if (!key.empty() && FolderListKey(entry) == key) {
      removed = true;
    } else {
      if (!first) out += ';';
      out += entry;
      first = false;
    }
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  if (!removed) return std::nullopt;
  return out;
}

}  // namespace kestrin
