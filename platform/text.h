// Text conversions. The program holds UTF-8; Win32 calls take UTF-16; the
// compiler's output and the saved log are in code page 936 (GBK).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrin {

// Decodes GBK bytes. Invalid sequences become U+FFFD; nothing else is lost.
std::string GbkToUtf8(std::string_view gbk);
// Encodes to GBK; characters GBK cannot hold become '?'.
std::string Utf8ToGbk(std::string_view utf8);

#ifdef _WIN32
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);
#endif

// Letter case aside (ASCII letters only, as file and value names need).
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view s);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);

// Removes blanks and control characters (every byte up to 32) at both ends.
std::string Trim(std::string_view text);
// Replaces every occurrence of `old_text` (bytes compared exactly). A new
// text that holds the old one is put in once, so the loop always ends.
std::string ReplaceAllOccurrences(std::string text, std::string_view old_text,
                                  std::string_view new_text);

// Replaces each %NAME% whose `lookup` gives a value, as Windows expands the
// environment in a text: a name without a value stays as written, and its
// closing '%' may open the next name.
std::string ExpandPercentNames(std::string_view text,
                               const std::function<std::optional<std::string>(const std::string&)>& lookup);

}  // namespace kestrin
