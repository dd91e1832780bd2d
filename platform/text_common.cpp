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

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
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

bool IsUnicodeScalar(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out += static_cast<char>(kLead[tail] | (c >> (6 * tail)));
  for (int k = tail - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
}

bool NextUtf8(std::string_view s, std::size_t& i, char32_t& c) {
  if (i >= s.size()) return false;
  const auto b = static_cast<unsigned char>(s[i]);
  const int tail = b < 0x80 ? 0 : b >= 0xC2 && b < 0xE0 ? 1 : b >= 0xE0 && b < 0xF0 ? 2
                 : b >= 0xF0 && b < 0xF5 ? 3 : -1;
  if (tail < 0 || s.size() - i <= static_cast<std::size_t>(tail)) return false;
  char32_t v = tail == 0 ? b : b & (0x3F >> tail);
  for (int k = 1; k <= tail; ++k) {
    const auto t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return false;
    v = (v << 6) | (t & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
  if (v < kLeast[tail] || !IsUnicodeScalar(v)) return false;
  c = v;
  i += tail + 1;
  return true;
}

bool Utf8ToUtf16(std::string_view utf8, std::u16string* out) {
  char32_t c = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    if (!NextUtf8(utf8, i, c)) return false;
    if (c < 0x10000) {
      *out += static_cast<char16_t>(c);
    } else {
      *out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      *out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return true;
}

bool Utf16ToUtf8(std::u16string_view utf16, std::string* out) {
  for (std::size_t k = 0; k < utf16.size(); ++k) {
    char32_t c = utf16[k];
    if (c >= 0xDC00 && c <= 0xDFFF) return false;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (k + 1 >= utf16.size()) return false;
      const char32_t low = utf16[k + 1];
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++k;
    }
    AppendUtf8(*out, c);
  }
  return true;
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

std::string ReplaceNamesNoCase(std::string_view text, std::initializer_list<std::string_view> names,
                               std::string_view value) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 0;
    for (std::string_view name : names)
      if (!name.empty() && StartsWithNoCase(text.substr(i), name)) length = name.size();
    if (length) {
      out += value;
      i += length;
    } else {
      out += text[i++];
    }
  }
  return out;
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
