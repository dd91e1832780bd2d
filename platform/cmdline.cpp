#include "platform/process.h"

namespace kestrin {

namespace {

// `folder_quotes`: inside quotes, an odd run of backslashes followed by a
// quote that ends the argument (a blank or the end of the line after it)
// is kept as written and the quote closes: "C:\dir\" is C:\dir\.
std::vector<std::string> Split(std::string_view s, std::size_t i, bool folder_quotes) {
  std::vector<std::string> args;
  const std::size_t n = s.size();
  while (true) {
    while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n) {
      char c = s[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '\\') {
        std::size_t k = 0;
        while (i < n && s[i] == '\\') ++k, ++i;
        if (i < n && s[i] == '"' && folder_quotes && quoted && k % 2 &&
            (i + 1 == n || s[i + 1] == ' ' || s[i + 1] == '\t')) {
          arg.append(k, '\\');
          quoted = false;
          ++i;
        } else if (i < n && s[i] == '"') {
          arg.append(k / 2, '\\');
          if (k % 2) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(k, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && s[i + 1] == '"') {
          arg += '"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += c;
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) { return Split(line, 0, false); }

std::vector<std::string> ProgramArguments(std::string_view line) {
  // The program's name ends at the next quote when it starts with one, else
  // at the first blank; backslashes mean nothing in it.
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i < line.size() && line[i] == '"') {
    const std::size_t close = line.find('"', i + 1);
    i = close == std::string_view::npos ? line.size() : close + 1;
  }
  while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
  return Split(line, i, true);
}

}  // namespace kestrin
