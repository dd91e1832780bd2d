#include "targets/compiler_config.h"

#include "platform/text.h"

namespace kestrin {

std::vector<std::string> ConfigUnitFolders(std::string_view cfg_text, std::string_view root_dir) {
  std::vector<std::string> folders;
  std::size_t start = 0;
  while (start < cfg_text.size()) {
    std::size_t end = cfg_text.find('\n', start);
    if (end == std::string_view::npos) end = cfg_text.size();
    const std::string line = Trim(cfg_text.substr(start, end - start));
    start = end + 1;
    if (line.size() < 3 || (line[0] != '-' && line[0] != '/') || (line[1] != 'U' && line[1] != 'u')) continue;
    // The folders, each quoted or not, separated by ';'.
    std::string folder;
    bool quoted = false;
    auto take = [&] {
      std::string f = Trim(folder);
      folder.clear();
      if (f.empty()) return;
      folders.push_back(ReplaceNamesNoCase(f, {"$(DELPHI)", "$(BDS)"}, root_dir));
    };
    for (std::size_t i = 2; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '"') quoted = !quoted;
      else if (c == ';' && !quoted) take();
      else folder += c;
    }
    take();
  }
  return folders;
}

}  // namespace kestrin
