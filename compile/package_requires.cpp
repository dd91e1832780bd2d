#include "compile/package_requires.h"

#include "platform/text.h"

namespace kestrin {
namespace {

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsIdentPart(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9') || c == '.'; }

// The project's text as the compiler sees it: identifiers and single
// punctuation characters; comments, directives and quoted strings dropped.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : t_(text) {}
  // The next token, or nothing at the end (or inside an unclosed comment).
  std::optional<std::string_view> Next() {
    for (;;) {
      while (i_ < t_.size() && static_cast<unsigned char>(t_[i_]) <= ' ') ++i_;
      if (i_ >= t_.size()) return std::nullopt;
      const char c = t_[i_];
      if (c == '{') {
        if (!SkipPast("}", 1)) return std::nullopt;
      } else if (c == '(' && i_ + 1 < t_.size() && t_[i_ + 1] == '*') {
        if (!SkipPast("*)", 2)) return std::nullopt;
      } else if (c == '/' && i_ + 1 < t_.size() && t_[i_ + 1] == '/') {
        const std::size_t end = t_.find_first_of("\r\n", i_);
        i_ = end == std::string_view::npos ? t_.size() : end;
      } else if (c == '\'') {
        const std::size_t end = t_.find('\'', i_ + 1);
        if (end == std::string_view::npos) return std::nullopt;
        i_ = end + 1;
      } else if (IsIdentStart(c)) {
        const std::size_t start = i_;
        while (i_ < t_.size() && IsIdentPart(t_[i_])) ++i_;
        return t_.substr(start, i_ - start);
      } else {
        return t_.substr(i_++, 1);
      }
    }
  }

 private:
  bool SkipPast(std::string_view close, std::size_t open_length) {
    const std::size_t end = t_.find(close, i_ + open_length);
    if (end == std::string_view::npos) return false;
    i_ = end + close.size();
    return true;
  }
  std::string_view t_;
  std::size_t i_ = 0;
};

}  // namespace

std::optional<std::vector<std::string>> ReadRequiredPackages(std::string_view project_text) {
  Tokens tokens(project_text);
  auto first = tokens.Next();
  if (!first || !EqualsNoCase(*first, "package")) return std::nullopt;
  // The clause follows the header and comes before "contains" and "end".
  while (auto token = tokens.Next()) {
    if (EqualsNoCase(*token, "contains") || EqualsNoCase(*token, "end")) break;
    if (!EqualsNoCase(*token, "requires")) continue;
    std::vector<std::string> names;
    while (auto name = tokens.Next()) {
      if (*name == ";") return names;
      if (IsIdentStart(name->front())) names.emplace_back(*name);
    }
    return std::nullopt;  // the clause never ends
  }
  return std::vector<std::string>{};
}

}  // namespace kestrin
