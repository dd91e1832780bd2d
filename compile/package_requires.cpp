#include "compile/package_requires.h"

#include <algorithm>
#include <unordered_set>

#include "platform/text.h"

namespace kestrin {
namespace {

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsIdentPart(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | c >> 6);
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | c >> 12);
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | c >> 18);
    *out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The project's text as the compiler takes it: UTF-16 (either byte order,
// with its byte-order mark) decoded to UTF-8, a UTF-8 byte-order mark
// dropped, anything else as it is. An unpaired surrogate becomes U+FFFD, an
// odd last byte is dropped.
std::string ProjectText(std::string_view bytes) {
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xEF\xBB\xBF")) return std::string(bytes.substr(3));
  const bool le = starts("\xFF\xFE"), be = starts("\xFE\xFF");
  if (!le && !be) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() / 2);
  auto unit = [&](std::size_t i) {
    const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return static_cast<char32_t>(le ? a | b << 8 : a << 8 | b);
  };
  for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(&out, c);
  }
  return out;
}

struct Token {
  // A word, one punctuation character, or a conditional directive: the start
  // of a branch ({$IF...}, {$IFDEF}, {$IFNDEF}, {$IFOPT}), the next branch
  // ({$ELSE}, {$ELSEIF}) or the end ({$ENDIF}, {$IFEND}).
  enum class Kind { Word, Symbol, BranchOpen, BranchNext, BranchClose } kind;
  std::string_view text;
};

// The project's text as the compiler sees it: words, single punctuation
// characters and conditional directives; comments, other directives and
// quoted strings dropped.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : t_(text) {}
  // The next token, or nothing at the end (or inside an unclosed comment).
  std::optional<Token> Next() {
    for (;;) {
      while (i_ < t_.size() && static_cast<unsigned char>(t_[i_]) <= ' ') ++i_;
      if (i_ >= t_.size()) return std::nullopt;
      const char c = t_[i_];
      const bool paren = c == '(' && i_ + 1 < t_.size() && t_[i_ + 1] == '*';
      if (c == '{' || paren) {
        const std::size_t open = paren ? 2 : 1;
        const std::string_view close = paren ? "*)" : "}";
        const bool directive = i_ + open < t_.size() && t_[i_ + open] == '$';
        const std::size_t body = i_ + open + 1;
        if (!SkipPast(close, open)) return std::nullopt;
        if (!directive) continue;
        std::size_t end = body;
        while (end < i_ && IsIdentPart(t_[end])) ++end;
        const std::string name = ToLowerAscii(t_.substr(body, end - body));
        if (name == "if" || name == "ifdef" || name == "ifndef" || name == "ifopt")
          return Token{Token::Kind::BranchOpen, {}};
        if (name == "else" || name == "elseif") return Token{Token::Kind::BranchNext, {}};
        if (name == "endif" || name == "ifend") return Token{Token::Kind::BranchClose, {}};
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
        return Token{Token::Kind::Word, t_.substr(start, i_ - start)};
      } else {
        return Token{Token::Kind::Symbol, t_.substr(i_++, 1)};
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

bool IsKeyword(std::string_view word) {
  return EqualsNoCase(word, "contains") || EqualsNoCase(word, "end") || EqualsNoCase(word, "requires");
}

// The names of a clause, from after "requires", added to `names`. Every
// branch of a conditional directive is read, so a ';' inside a branch ends
// only that branch: the clause ends at a ';' outside every branch, or at the
// next section after a branch that ended with one. A branch may hold a whole
// clause of its own ("{$IFDEF X} requires a {$ELSE} requires b {$ENDIF};"),
// or a clause may follow one that ended in a branch: such a "requires" is
// passed over. Two names with nothing between them, or a section before the
// clause's ';', leave it unreadable (false). `section` tells whether the
// clause ended at the next section's word.
bool ReadClause(Tokens& tokens, std::vector<std::string>* names, bool* section) {
  int depth = 0;
  bool after_name = false;       // the last token was a name
  bool after_dot = false;        // ... and a '.' after it
  bool after_semicolon = false;  // the last token was a ';' inside a branch
  bool branch_start = false;     // the last token started a branch
  *section = false;
  while (auto token = tokens.Next()) {
    const bool at_branch_start = branch_start;
    branch_start = token->kind == Token::Kind::BranchOpen || token->kind == Token::Kind::BranchNext;
    switch (token->kind) {
      case Token::Kind::BranchOpen:
        ++depth;
        after_name = after_dot = false;
        break;
      case Token::Kind::BranchNext:
        after_name = after_dot = false;
        break;
      case Token::Kind::BranchClose:
        if (depth > 0) --depth;
        after_name = after_dot = false;
        break;
      case Token::Kind::Symbol:
        if (token->text == ";" && depth == 0) return true;
        after_dot = after_name && token->text == ".";
        after_semicolon = token->text == ";";
        if (!after_dot) after_name = false;
        break;
      case Token::Kind::Word:
        if ((at_branch_start || after_semicolon) && EqualsNoCase(token->text, "requires")) {
          after_semicolon = false;
          break;
        }
        if (depth == 0 && IsKeyword(token->text)) {
          *section = true;
          return after_semicolon;
        }
        if (after_dot) {
          names->back() += '.';
          names->back() += token->text;
        } else if (after_name) {
          return false;
        } else {
          names->emplace_back(token->text);
        }
        after_name = true;
        after_dot = after_semicolon = false;
        break;
    }
  }
  return false;  // the clause never ends
}

}  // namespace

std::optional<std::vector<std::string>> ReadRequiredPackages(std::string_view project_bytes) {
  const std::string text = ProjectText(project_bytes);
  Tokens tokens(text);
  auto first = tokens.Next();
  if (!first || first->kind != Token::Kind::Word || !EqualsNoCase(first->text, "package"))
    return std::nullopt;
  // The clause follows the header and comes before "contains" and "end";
  // where branches of a directive hold a clause each, every one is read.
  std::vector<std::string> all;
  bool section = false;
  while (!section) {
    auto token = tokens.Next();
    if (!token) break;
    if (token->kind != Token::Kind::Word) continue;
    if (EqualsNoCase(token->text, "contains") || EqualsNoCase(token->text, "end")) break;
    if (EqualsNoCase(token->text, "requires") && !ReadClause(tokens, &all, &section)) return std::nullopt;
  }
  std::vector<std::string> names;  // each name once, as it first appears
  std::unordered_set<std::string> seen;
  for (std::string& name : all)
    if (seen.insert(ToLowerAscii(name)).second) names.push_back(std::move(name));
  return names;
}

}  // namespace kestrin
