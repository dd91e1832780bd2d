#include "platform/text.h"

namespace kestrin {

static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

std::string ToLowerAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = LowerAscii(c);
  return r;
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && EqualsNoCase(s.substr(s.size() - suffix.size()), suffix);
}

std::string Trim(std::string_view t) {
  std::size_t b = 0, e = t.size();
  while (b < e && static_cast<unsigned char>(t[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(t[e - 1]) <= 32) --e;
  return std::string(t.substr(b, e - b));
}

std::string ReplaceAllOccurrences(std::string text, std::string_view old_text,
                                  std::string_view new_text) {
  if (old_text.empty()) return text;
  const bool once = new_text.find(old_text) != std::string_view::npos;
  std::size_t p = text.find(old_text);
  while (p != std::string::npos) {
    text.replace(p, old_text.size(), new_text);
    if (once) break;
    p = text.find(old_text);
  }
  return text;
}

std::string ExpandPercentNames(std::string_view text,
                               const std::function<std::optional<std::string>(const std::string&)>& lookup) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find('%', i);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    const std::string name(text.substr(open + 1, close - open - 1));
    std::optional<std::string> value;
    if (!name.empty()) value = lookup(name);
    if (value) {
      out.append(text.substr(i, open - i));
      out += *value;
      i = close + 1;
    } else {
      out.append(text.substr(i, close - i));
      i = close;
    }
  }
  out.append(text.substr(i));
  return out;
}

}  // namespace kestrin
