#include "ide/env_options_file.h"

#include <charconv>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "platform/text.h"

namespace kestrin {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

// Joins texts (GCC 12 warns falsely about a literal + std::string here).
std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out += p;
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool AllBlank(std::string_view s) {
  for (char c : s)
    if (!IsBlank(c)) return false;
  return true;
}

// Valid UTF-8 without NUL (which no XML text holds, and which UTF-16 text
// read as bytes is full of).
bool IsXmlUtf8(std::string_view s) {
  char32_t c = 0;
  for (std::size_t i = 0; i < s.size();)
    if (!NextUtf8(s, i, c) || c == 0) return false;
  return true;
}

bool Utf16LeToUtf8(std::string_view bytes, std::string* out) {
  if (bytes.size() % 2) return false;
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t k = 0; k < units.size(); ++k)
    units[k] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                     static_cast<unsigned char>(bytes[2 * k + 1]) << 8);
  return Utf16ToUtf8(units, out);
}

bool Utf8ToUtf16Le(std::string_view text, std::string* out) {
  std::u16string units;
  if (!Utf8ToUtf16(text, &units)) return false;
  for (char16_t u : units) {
    *out += static_cast<char>(u & 0xFF);
    *out += static_cast<char>(u >> 8);
  }
  return true;
}

// The encoding that the XML declaration names, in lower case; empty without one.
std::string DeclaredEncoding(std::string_view text) {
  if (text.size() < 6 || text.substr(0, 5) != "<?xml" || !IsBlank(text[5])) return {};
  const std::string_view declaration = text.substr(0, text.find("?>"));
  std::size_t p = declaration.find("encoding");
  if (p != std::string_view::npos) p = declaration.find_first_of("\"'", p);
  if (p == std::string_view::npos) return {};
  const std::size_t q = declaration.find(declaration[p], p + 1);
  if (q == std::string_view::npos) return {};
  return ToLowerAscii(declaration.substr(p + 1, q - p - 1));
}

// Character data with its references resolved; nullopt for an entity other
// than the five of XML, a bad character reference, or a bare '&'.
std::optional<std::string> UnescapeXmlText(std::string_view s) {
  static constexpr std::pair<std::string_view, char> kNamed[] = {
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    if (s[i] != '&') {
      out += s[i++];
      continue;
    }
    const std::size_t semicolon = s.find(';', i);
    if (semicolon == std::string_view::npos) return std::nullopt;
    const std::string_view ref = s.substr(i + 1, semicolon - i - 1);
    i = semicolon + 1;
    bool named = false;
    for (const auto& [entity, c] : kNamed)
      if (ref == entity) {
        out += c;
        named = true;
      }
    if (named) continue;
    if (ref.size() < 2 || ref[0] != '#') return std::nullopt;
    const bool hex = ref[1] == 'x';
    const std::string_view digits = ref.substr(hex ? 2 : 1);
    std::uint32_t c = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), c, hex ? 16 : 10);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() || c == 0 ||
        !IsUnicodeScalar(c))
      return std::nullopt;
    AppendUtf8(out, c);
  }
  return out;
}

std::string EscapeXmlText(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

// The file's line end: that of its first line, CR LF for a single line.
std::string LineEnd(std::string_view text) {
  const std::size_t n = text.find('\n');
  if (n == std::string_view::npos || (n > 0 && text[n - 1] == '\r')) return "\r\n";
  return "\n";
}

// The blanks before `pos` when nothing else stands before it on its line.
std::optional<std::string> IndentAt(std::string_view text, std::size_t pos) {
  std::size_t i = pos;
  while (i > 0 && (text[i - 1] == ' ' || text[i - 1] == '\t')) --i;
  if (i > 0 && text[i - 1] != '\n') return std::nullopt;
  return std::string(text.substr(i, pos - i));
}

enum class Node { Text, Comment, Instruction, CData, StartTag, EndTag, End, Broken };

struct Tag {
  std::string_view name;
  std::size_t begin = 0, end = 0;  // from its '<' to past its '>'
  bool empty = false;              // <name ... />
};

// Reads the text node by node. A node it cannot read ends the scan: Broken,
// with the reason in `why`.
class Scanner {
 public:
  explicit Scanner(std::string_view text) : text(text) {}

  // Reads the node at `pos` and moves past it; a tag goes to `tag`, the
  // characters of a text node to `chars`.
  Node Next(Tag* tag, std::string_view* chars) {
    if (pos >= text.size()) return Node::End;
    const std::size_t begin = pos;
    if (text[pos] != '<') {
      pos = std::min(text.find('<', pos), text.size());
      *chars = text.substr(begin, pos - begin);
      return Node::Text;
    }
    if (At("<!--")) return SkipPast(4, "-->", "注释") ? Node::Comment : Node::Broken;
    if (At("<![CDATA[")) return SkipPast(9, "]]>", "CDATA ") ? Node::CData : Node::Broken;
    if (At("<?")) return SkipPast(2, "?>", "处理指令") ? Node::Instruction : Node::Broken;
    if (At("<!")) return Fail("含有 DOCTYPE 等声明"), Node::Broken;
    const bool closing = At("</");
    std::size_t i = begin + (closing ? 2 : 1);
    const std::size_t name_begin = i;
    while (i < text.size() && !IsBlank(text[i]) && text[i] != '>' && text[i] != '/' && text[i] != '<')
      ++i;
    tag->name = text.substr(name_begin, i - name_begin);
    const std::size_t name_end = i;
    char quote = 0;
    for (; i < text.size() && text[i] != '<'; ++i) {
      if (quote) {
        if (text[i] == quote) quote = 0;
      } else if (text[i] == '"' || text[i] == '\'') {
        quote = text[i];
      } else if (text[i] == '>') {
        break;
      }
    }
    if (tag->name.empty() || i == text.size() || text[i] != '>' ||
        (closing && !AllBlank(text.substr(name_end, i - name_end))))
      return Fail(Cat({"标签 ", text.substr(begin, name_end - begin), " 不完整"})), Node::Broken;
    tag->begin = begin;
    tag->end = pos = i + 1;
    tag->empty = !closing && text[i - 1] == '/';
    return closing ? Node::EndTag : Node::StartTag;
  }

  // Passes over the content and the end tag of the element `start` opens.
  bool SkipElement(const Tag& start) {
    if (start.empty) return true;
    std::vector<std::string_view> open = {start.name};
    Tag tag;
    std::string_view chars;
    while (!open.empty()) {
      switch (Next(&tag, &chars)) {
        case Node::StartTag:
          if (!tag.empty) open.push_back(tag.name);
          break;
        case Node::EndTag:
          if (tag.name != open.back()) return Unpaired(tag.name, open.back());
          open.pop_back();
          break;
        case Node::End: return Fail(Cat({"<", open.back(), "> 没有结束标签"}));
        case Node::Broken: return false;
        default: break;
      }
    }
    return true;
  }

  bool Unpaired(std::string_view end, std::string_view start) {
    return Fail(Cat({"结束标签 </", end, "> 与 <", start, "> 不配对"}));
  }
  bool Fail(std::string reason) {
    if (why.empty()) why = std::move(reason);
    return false;
  }

  const std::string_view text;
  std::size_t pos = 0;
  std::string why;

 private:
  bool At(std::string_view s) const { return text.compare(pos, s.size(), s) == 0; }
  bool SkipPast(std::size_t opener, std::string_view end, std::string_view what) {
    const std::size_t e = text.find(end, pos + opener);
    if (e == std::string_view::npos) return Fail(Cat({what, "没有结束"}));
    pos = e + end.size();
    return true;
  }
};

// The value of the property whose start tag is `tag`, and the end of it.
bool ReadValue(Scanner& s, const Tag& tag, PropertySpot* spot) {
  spot->present = true;
  if (tag.empty) {  // <name/> becomes <name>...</name>
    spot->at = tag.end - 2;
    spot->removed = 2;
    spot->before.assign(1, '>');
    spot->after = Cat({"</", tag.name, ">"});
    return true;
  }
  const std::size_t begin = tag.end;
  s.pos = std::min(s.text.find('<', begin), s.text.size());
  Tag end_tag;
  std::string_view chars;
  if (s.Next(&end_tag, &chars) != Node::EndTag || end_tag.name != tag.name)
    return s.Fail(Cat({tag.name, " 的值中有注释、CDATA 或子元素, 或没有结束标签"}));
  std::size_t end = end_tag.begin;
  while (end > begin && IsBlank(s.text[end - 1])) --end;
  auto value = UnescapeXmlText(s.text.substr(begin, end - begin));
  if (!value) return s.Fail(Cat({tag.name, " 的值中有无法识别的实体或字符引用"}));
  spot->value = std::move(*value);
  spot->at = end;
  return true;
}

// The first PropertyGroup, whose start tag is `group`: where the property
// is, or where it goes.
bool ScanGroup(Scanner& s, const Tag& group, std::string_view name, PropertySpot* spot) {
  const std::string eol = LineEnd(s.text);
  const std::string outer = IndentAt(s.text, group.begin).value_or("");
  const std::string inner = outer + (outer.empty() ? "  " : outer);  // a guess, when no child shows it
  const std::string open_tag = Cat({"<", name, ">"}), close_tag = Cat({"</", name, ">"});
  if (group.empty) {  // <PropertyGroup/>
    spot->at = group.end - 2;
    spot->removed = 2;
    spot->before = Cat({">", eol, inner, open_tag});
    spot->after = Cat({close_tag, eol, outer, "</PropertyGroup>"});
    return true;
  }
  std::optional<std::string> child_indent;
  std::size_t last_end = group.end;  // past the group's last child or comment
  Tag tag;
  std::string_view chars;
  for (;;) {
    switch (s.Next(&tag, &chars)) {
      case Node::Text:
        if (!AllBlank(chars)) return s.Fail("PropertyGroup 中有文本");
        break;
      case Node::CData: return s.Fail("PropertyGroup 中有 CDATA");
      case Node::Comment:
      case Node::Instruction: last_end = s.pos; break;
      case Node::StartTag:
        if (!child_indent) child_indent = IndentAt(s.text, tag.begin);
        if (EqualsNoCase(tag.name, name)) {
          if (spot->present) return s.Fail(Cat({"PropertyGroup 中有两个 ", name}));
          if (!ReadValue(s, tag, spot)) return false;
        } else if (!s.SkipElement(tag)) {
          return false;
        }
        last_end = s.pos;
        break;
      case Node::EndTag:
        if (tag.name != "PropertyGroup") return s.Unpaired(tag.name, "PropertyGroup");
        if (!spot->present) {
          const bool has_children = last_end != group.end;
          spot->at = last_end;
          spot->before = eol + (has_children ? child_indent : std::nullopt).value_or(inner) + open_tag;
          spot->after = close_tag;
          if (!has_children && s.text.substr(group.end, tag.begin - group.end).find('\n') == std::string_view::npos)
            spot->after += eol + outer;
        }
        return true;
      case Node::End: return s.Fail("PropertyGroup 没有结束标签");
      case Node::Broken: return false;
      default: break;
    }
  }
}

}  // namespace

std::optional<DecodedText> DecodeProjectFile(std::string_view bytes, std::string* why) {
  DecodedText d;
  std::string_view expected;  // how a declared encoding has to begin
  if (bytes.substr(0, 2) == kUtf16LeBom) {
    d.encoding = TextEncoding::Utf16LeWithBom;
    expected = "utf-16";
    if (!Utf16LeToUtf8(bytes.substr(2), &d.text)) {
      *why = "不是有效的 UTF-16LE 文本";
      return std::nullopt;
    }
  } else if (bytes.substr(0, 2) == kUtf16BeBom) {
    *why = "不支持 UTF-16BE 编码";
    return std::nullopt;
  } else {
    const bool bom = bytes.substr(0, 3) == kUtf8Bom;
    d.encoding = bom ? TextEncoding::Utf8WithBom : TextEncoding::Utf8;
    expected = "utf-8";
    d.text = bytes.substr(bom ? 3 : 0);
    if (!IsXmlUtf8(d.text)) {
      *why = "不是有效的 UTF-8 文本";
      return std::nullopt;
    }
  }
  const std::string declared = DeclaredEncoding(d.text);
  if (!declared.empty() && declared.rfind(expected, 0) != 0) {
    *why = "声明的编码 " + declared + " 与文件的编码不符";
    return std::nullopt;
  }
  return d;
}

bool EncodeProjectFile(std::string_view text, TextEncoding encoding, std::string* bytes) {
  switch (encoding) {
    case TextEncoding::Utf8: *bytes = text; return true;
    case TextEncoding::Utf8WithBom: *bytes = std::string(kUtf8Bom) + std::string(text); return true;
    case TextEncoding::Utf16LeWithBom: *bytes = kUtf16LeBom; return Utf8ToUtf16Le(text, bytes);
  }
  return false;
}

std::optional<PropertySpot> FindFirstGroupProperty(std::string_view text, std::string_view name,
                                                   std::string* why) {
  Scanner s(text);
  Tag tag;
  std::string_view chars;
  auto fail = [&](std::string reason) {
    s.Fail(std::move(reason));
    *why = s.why;
    return std::nullopt;
  };
  // Before the root: the declaration, comments and blanks only.
  for (bool root = false; !root;) {
    switch (s.Next(&tag, &chars)) {
      case Node::StartTag: root = true; break;
      case Node::Comment:
      case Node::Instruction: break;
      case Node::Text:
        if (AllBlank(chars)) break;
        [[fallthrough]];
      default: return fail("没有 Project 根元素");
    }
  }
  if (tag.name != "Project") return fail(Cat({"根元素是 ", tag.name, ", 不是 Project"}));
  std::optional<PropertySpot> spot;
  for (bool closed = tag.empty; !closed;) {
    switch (s.Next(&tag, &chars)) {
      case Node::StartTag:
        if (!spot && tag.name == "PropertyGroup") {
          spot.emplace();
          if (!ScanGroup(s, tag, name, &*spot)) return fail("");
        } else if (!s.SkipElement(tag)) {
          return fail("");
        }
        break;
      case Node::EndTag:
        if (tag.name != "Project") {
          s.Unpaired(tag.name, "Project");
          return fail("");
        }
        closed = true;
        break;
      case Node::End: return fail("Project 没有结束标签");
      case Node::Broken: return fail("");
      default: break;  // text, comments and CDATA of the root are not relied on
    }
  }
  if (!spot) return fail("Project 下没有 PropertyGroup");
  // After the root: comments and blanks only.
  for (;;) {
    switch (s.Next(&tag, &chars)) {
      case Node::End: return spot;
      case Node::Comment:
      case Node::Instruction: break;
      case Node::Text:
        if (AllBlank(chars)) break;
        [[fallthrough]];
      default: return fail("Project 之后还有其他内容");
    }
  }
}

std::string AddToProperty(std::string_view text, const PropertySpot& spot, std::string_view addition) {
  std::string out(text.substr(0, spot.at));
  out += spot.before;
  out += EscapeXmlText(addition);
  out += spot.after;
  out += text.substr(spot.at + spot.removed);
  return out;
}

}  // namespace kestrin
