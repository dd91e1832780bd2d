#include "app/panes.h"

#include "platform/text.h"

namespace kestrin {

std::string ToCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else if (c == '\0') {
      out += ' ';  // a text box would end the text at a zero
    } else {
      out += c;
    }
  }
  return out;
}

std::string LogEntry(std::string_view text) {
  std::string s = ToCrLf(text);
  // A text that ends its last line itself adds no empty line after it.
  if (s.size() >= 2 && s.compare(s.size() - 2, 2, "\r\n") == 0) s.resize(s.size() - 2);
  return s + "\r\n";
}

std::string SaveLogPath(std::string_view chosen) {
  std::string p(chosen);
  if (!EndsWithNoCase(p, ".txt")) p += ".txt";
  return p;
}

void SaveLog(Session& s, std::string_view log) {
  std::string folder = Trim(s.fs.ExecutableFolder());
  auto chosen = s.shell.PickSaveFile("文本文件(*.TXT)|*.TXT|所有文件(*.*)|*.*", folder);
  if (!chosen) return;
  std::string path = SaveLogPath(*chosen);
  if (!WriteWholeFile(s.fs, path, Utf8ToGbk(log))) {
    s.host.Message("无法保存日志文件 " + path + ": " + s.fs.LastError(), kAppTitle,
                       MessageIcon::Error);
  }
}

}  // namespace kestrin
