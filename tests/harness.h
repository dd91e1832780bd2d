// Test doubles for the window and the shell, and a ready-made App over the
// POSIX platform layer and the program's own registry store.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/app.h"
#include "catalogue/catalogue.h"
#include "platform/memory_registry.h"
#include "platform/posix_platform.h"

namespace kestrin::test {

class FakeView : public View {
 public:
  FakeView();
  void AppendLog(std::string_view text) override { log.emplace_back(text); }
  void ClearLog() override { log.clear(); }
  std::string LogText() override;
  void ShowLogPage() override { ++logPageShown; }
  void RepaintLog() override {}
  void AppendCommandPane(std::string_view text) override { commandPane += std::string(text) + "\r\n"; }
  void ClearCommandPane() override { commandPane.clear(); }
  void CopyCommandPane() override { clipboard = commandPane; }
  void SetEnabled(int id, bool on) override { enabled[id] = on; }
  void SetVisible(int id, bool on) override { visible[id] = on; }
  bool IsChecked(int id) override { return checked[id]; }
  void SetChecked(int id, bool on) override { checked[id] = on; }
  void SetGroupBox2Height(int h) override { groupBox2Height = h; }
  void SetGauge(int pos, int max) override { gaugePos = pos; gaugeMax = max; }
  void SetCaption(std::string_view c) override { caption = c; }
  std::string PathText() override { return path; }
  void SetPathText(std::string_view t) override { path = t; }
  void LoadBuildList(const std::vector<std::string>& rows) override;
  int BuildCount() override { return static_cast<int>(rows.size()); }
  std::string BuildItem(int i) override { return rows[i]; }
  bool IsTicked(int i) override { return ticks[i]; }
  void SetTicked(int i, bool on) override { ticks[i] = on; }
  void PumpMessages() override {
    ++pumps;
    if (onPump) onPump();
  }
  void ShowMessage(std::string_view text, std::string_view cap, MessageIcon icon) override {
    messages.push_back({std::string(text), std::string(cap), icon});
  }
  // Answers the questions from `answers`, No when none is left.
  bool AskYesNo(std::string_view text, std::string_view cap) override {
    questions.push_back({std::string(text), std::string(cap), MessageIcon::Information});
    if (answers.empty()) return false;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }

  // Every line of the log, entries split at their line breaks.
  std::vector<std::string> Lines();
  std::vector<int> Ticked();

  struct Message { std::string text, caption; MessageIcon icon; };
  std::vector<std::string> log;
  std::string commandPane, clipboard, caption, path;
  std::map<int, bool> enabled, visible, checked;
  std::vector<std::string> rows;
  std::vector<bool> ticks;
  std::vector<Message> messages, questions;
  std::deque<bool> answers;
  int groupBox2Height = 233, gaugePos = 0, gaugeMax = 0, logPageShown = 0, pumps = 0;
  std::function<void()> onPump;
};

class FakeShell : public Shell {
 public:
  std::optional<std::string> PickFolder(std::string_view title) override {
    folderTitles.emplace_back(title);
    if (folderAnswers.empty()) return std::nullopt;
    auto a = folderAnswers.front();
    folderAnswers.pop_front();
    return a;
  }
  std::optional<std::string> PickSaveFile(std::string_view filter, std::string_view folder) override {
    saveFilters.emplace_back(filter);
    saveFolders.emplace_back(folder);
    if (saveAnswers.empty()) return std::nullopt;
    auto a = saveAnswers.front();
    saveAnswers.pop_front();
    return a;
  }
  void OpenUrl(std::string_view url) override { urls.emplace_back(url); }
  void StartCommandPrompt() override { ++prompts; }
  void AnnounceEnvironmentChange() override { ++environmentAnnouncements; }

  std::deque<std::optional<std::string>> folderAnswers, saveAnswers;
  std::vector<std::string> folderTitles, saveFilters, saveFolders, urls;
  int prompts = 0, environmentAnnouncements = 0;
};

// A temporary folder, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  // The folder in the program's path form, ending in a backslash.
  std::string Root() const { return root_ + "\\"; }
  std::filesystem::path Path() const { return root_; }
  // Writes a file (creating its folders), `rel` relative to the folder.
  void Write(const std::string& rel, const std::string& content) const;
  bool Exists(const std::string& rel) const;
  std::string Read(const std::string& rel) const;

 private:
  std::string root_;
};

// Runs children for real and remembers their command lines.
class RecordingLauncher : public ProcessLauncher {
 public:
  std::unique_ptr<ChildProcess> Start(std::string_view line) override {
    lines.emplace_back(line);
    return real.Start(line);
  }
  void TrimWorkingSet() override { ++trims; }
  bool IsRunning(std::string_view image) override { return real.IsRunning(image); }
  PosixProcessLauncher real;
  std::vector<std::string> lines;
  int trims = 0;
};

struct TestApp {
  TestApp();
  MemoryRegistry registry;
  PosixFileSystem fs;
  RecordingLauncher processes;
  FakeShell shell;
  FakeView view;
  App app;
  // Registers a release under its base key, with an App file that exists.
  void RegisterIde(int index, const std::string& root_dir, const TempDir& dir);
  // Selects release `index` as a click on its radio button would.
  void Choose(int index) { app.OnCommand(kFirstIdeId + index); }
  static constexpr int kFirstIdeId = 110;
  // A library generated into dir/lib for the given suffixes, a release with
  // the stand-in compiler in dir/ide/bin, chosen, and the library folder set.
  void SetUpLibrary(const TempDir& dir, int ide_index, std::vector<std::string> suffixes);
  std::vector<std::string> LogLines() { return view.Lines(); }
  // dir/lib as the library folder (marker only), release `ide_index`
  // registered, the program started and the release chosen; the system
  // folder is dir/sys.
  void StartWithRelease(const TempDir& dir, int ide_index);
};

// The folder holding the stand-in compiler and the helper programs.
std::string ToolsDir();
// Lines of a text, split at CR LF or LF.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace kestrin::test
