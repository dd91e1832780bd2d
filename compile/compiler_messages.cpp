#include "compile/compiler_messages.h"

#include "platform/text.h"

namespace kestrin {
namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

// Past "File.pas(12) " or "File.pas(12,5) ", the place a message is about:
// the first "(" followed by a line number, ")" and a blank. A path may hold
// parentheses of its own ("Program Files (x86)"), so each one is tried.
std::string_view SkipPlace(std::string_view s) {
  for (std::size_t open = s.find('('); open != std::string_view::npos && open > 0;
       open = s.find('(', open + 1)) {
    std::size_t i = open + 1;
    while (i < s.size() && ((s[i] >= '0' && s[i] <= '9') || s[i] == ',')) ++i;
    if (i > open + 1 && i + 1 < s.size() && s[i] == ')' && s[i + 1] == ' ') return s.substr(i + 2);
  }
  return s;
}

}  // namespace

MessageKind CompilerMessageKind(std::string_view line) {
  std::string_view s = line;
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  if (StartsWith(s, "[")) {
    // The IDE's forms, also with the compiler's name: [Error], [DCC Error].
    if (StartsWith(s, "[DCC ")) s.remove_prefix(5);
    else s.remove_prefix(1);
    if (StartsWith(s, "Error]") || StartsWith(s, "Fatal Error]")) return MessageKind::Error;
    if (StartsWith(s, "Warning]")) return MessageKind::Warning;
    if (StartsWith(s, "Hint]")) return MessageKind::Hint;
    return MessageKind::None;
  }
  s = SkipPlace(s);
  if (StartsWith(s, "Error: ") || StartsWith(s, "Fatal: ")) return MessageKind::Error;
  if (StartsWith(s, "Warning: ")) return MessageKind::Warning;
  if (StartsWith(s, "Hint: ")) return MessageKind::Hint;
  return MessageKind::None;
}

CompilerMessages ScanCompilerOutput(std::string_view output) {
  CompilerMessages m;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = output.size();
    const std::string_view line = output.substr(start, end - start);
    switch (CompilerMessageKind(line)) {
      case MessageKind::Error:
        if (m.firstError.empty()) m.firstError = Trim(line);
        break;
      case MessageKind::Warning: ++m.warnings; break;
      case MessageKind::Hint: ++m.hints; break;
      case MessageKind::None: break;
    }
    start = end + 1;
  }
  return m;
}

}  // namespace kestrin
