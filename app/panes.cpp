// The command pane, the log pane and their buttons.
#include "app/panes.h"

#include "app/app.h"
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

void Button11Click(App& app) { app.view.ClearCommandPane(); }
void Button5Click(App& app) { app.view.ClearLog(); }
void Button6Click(App& app) { app.view.CopyCommandPane(); }
void Button7Click(App& app) { app.shell.StartCommandPrompt(); }
void Label1Click(App& app) { app.shell.OpenUrl(kForumUrl); }

void S1Click(App& app) {
  std::string folder = Trim(app.fs.ExecutableFolder());
  auto chosen = app.shell.PickSaveFile("文本文件(*.TXT)|*.TXT|所有文件(*.*)|*.*", folder);
  if (!chosen) return;
  std::string path = SaveLogPath(*chosen);
  if (!WriteWholeFile(app.fs, path, Utf8ToGbk(app.view.LogText()))) {
    app.view.ShowMessage("无法保存日志文件 " + path + ": " + app.fs.LastError(), kAppTitle,
                         MessageIcon::Error);
  }
}

}  // namespace kestrin
