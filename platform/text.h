// Text conversions. The program holds UTF-8; Win32 calls take UTF-16; the
// compiler's output and the saved log are in code page 936 (GBK).
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace kestrin {

// Decodes GBK bytes. Invalid sequences become U+FFFD; nothing else is lost.
std::string GbkToUtf8(std::string_view gbk);
// Encodes to GBK; characters GBK cannot hold become '?'.
std::string Utf8ToGbk(std::string_view utf8);

// Strict UTF-8 <-> UTF-16 (code units in the system's order). Both fail on
// input that is not valid: a byte that starts no character, a cut-short or
// overlong sequence, an encoded surrogate, a code point above U+10FFFF, a
// lone or unpaired surrogate. On failure `out` holds what came before.
bool Utf8ToUtf16(std::string_view utf8, std::u16string* out);
bool Utf16ToUtf8(std::u16string_view utf16, std::string* out);
// Whether `c` is a Unicode scalar value (a code point, not a surrogate).
bool IsUnicodeScalar(char32_t c);
// Reads the UTF-8 character at `i` into `c` and moves `i` past it; false
// (nothing moved) for bytes that are not one.
bool NextUtf8(std::string_view s, std::size_t& i, char32_t& c);
// Appends scalar value `c` as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

#ifdef _WIN32
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);
#endif

// Letter case aside (ASCII letters only, as file and value names need).
bool EqualsNoCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view s);
bool EndsWithNoCase(std::string_view s, std::string_view suffix);
bool StartsWithNoCase(std::string_view s, std::string_view prefix);

// Removes blanks and control characters (every byte up to 32) at both ends.
std::string Trim(std::string_view text);
// Replaces every occurrence of `old_text` (bytes compared exactly). A new
// text that holds the old one is put in once, so the loop always ends.
std::string ReplaceAllOccurrences(std::string text, std::string_view old_text,
                                  std::string_view new_text);

// `text` with each occurrence of any of `names` (letter case aside) replaced
// by `value`, in one pass from the left: what `value` brings in is not
// looked at again.
std::string ReplaceNamesNoCase(std::string_view text, std::initializer_list<std::string_view> names,
                               std::string_view value);

// Replaces each %NAME% whose `lookup` gives a value, as Windows expands the
// environment in a text: a name without a value stays as written, and its
// closing '%' may open the next name.
std::string ExpandPercentNames(std::string_view text,
                               const std::function<std::optional<std::string>(const std::string&)>& lookup);

}  // namespace kestrin
