// Test doubles for the window and the shell, fault injection over the POSIX
// platform layer and the program's own registry store, and a ready-made App
// over them.
#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/controls.h"
#include "catalogue/catalogue.h"
#include "platform/memory_registry.h"
#include "platform/posix_platform.h"

#include <utility>

namespace kestrin::test {

class FakeView : public View {
 public:
  FakeView();
  void AppendLog(std::string_view text) override {
    log.emplace_back(text);
    if (onLog) onLog(text);
  }
  void ClearLog() override { log.clear(); }
  std::string LogText() override;
  void ShowLogPage() override { ++logPageShown; }
  void AppendCommandPane(std::string_view text) override { commandPane += std::string(text) + "\r\n"; }
  void ClearCommandPane() override { commandPane.clear(); }
  void CopyCommandPane() override { clipboard = commandPane; }
  void SetEnabled(int id, bool on) override { enabled[id] = on; }
  bool IsChecked(int id) override { return checked[id]; }
  void SetChecked(int id, bool on) override { checked[id] = on; }
  void SetRunningLook(bool on) override { running = on; }
  void SetGauge(int pos, int max) override { gaugePos = pos; gaugeMax = max; }
  void SetCaption(std::string_view c) override { caption = c; }
  void SetPathText(std::string_view t) override { path = t; }
  void LoadBuildList(const std::vector<std::string>& rows) override;
  // A tick set by App or, in a test, by the user: reported back as the
  // window reports it.
  void SetTicked(int i, bool on) override {
    ticks[i] = on;
    if (onTicked) onTicked(i, on);
  }
  void SetStatus(int i, std::string_view text, RowLook look) override {
    statuses[i] = std::string(text);
    looks[i] = look;
  }
  void RevealLogLine(std::string_view line) override { revealed.emplace_back(line); }
  void NoticeEnd() override { ++notices; }
  void SetTaskbarProgress(int done, int total, bool failed) override { taskbar.push_back({done, total, failed}); }
  // From the command's thread: events wait.
  void WakeForEvents() override {
    {
      std::lock_guard<std::mutex> lock(wake_mutex_);
      woken_ = true;
    }
    wake_.notify_all();
  }
  // Waits (on the test's thread, the window's) until events wait; false
  // when none came within `timeout`.
  bool WaitForWake(std::chrono::milliseconds timeout = std::chrono::seconds(120));
  void ShowMessage(std::string_view text, std::string_view cap, MessageIcon icon) override {
    messages.push_back({std::string(text), std::string(cap), icon});
  }
  // Answers the questions from `answers`, No when none is left.
  bool AskYesNo(std::string_view text, std::string_view cap) override {
    questions.push_back({std::string(text), std::string(cap), MessageIcon::Information});
    if (onAsk) onAsk();
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
  std::map<int, std::string> statuses;  // the build list's second column
  std::map<int, RowLook> looks;
  std::vector<std::string> revealed;    // the log lines brought into view
  int notices = 0;                      // ends of long commands noticed
  struct Progress {
    int done, total;
    bool failed;
    bool operator==(const Progress&) const = default;
  };
  std::vector<Progress> taskbar;        // the taskbar button's progress, in order
  bool running = false;  // the compile run's look: stop button and gauge in view
  int gaugePos = 0, gaugeMax = 0, logPageShown = 0;
  // After the window (the test) has handled a batch of a command's events.
  std::function<void()> onEvents;
  std::function<void(std::string_view)> onLog;  // each log entry as it arrives
  // While a question waits for its answer.
  std::function<void()> onAsk;
  std::function<void(int, bool)> onTicked;

 private:
  std::mutex wake_mutex_;
  std::condition_variable wake_;
  bool woken_ = false;
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
  std::string RoamingAppDataFolder() override { return appDataFolder; }
  std::string WindowsFolder() override { return windowsFolder; }
  std::string MachinePath() override { return machinePath; }
  // %NAME% from `environment` (names compare letter case aside).
  std::string ExpandEnvironment(std::string_view text) override;
  std::string LastError() override { return "no application data folder in this test"; }

  std::string appDataFolder;  // set by TestApp::StartWithRelease
  std::string windowsFolder, machinePath;
  std::map<std::string, std::string> environment;
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

// The POSIX file system with a system folder of the test's own, and faults
// on demand: every operation on a path that starts with a given prefix fails
// with a given errno value, as a gone network share or a denied folder would.
class TestFileSystem : public PosixFileSystem {
 public:
  void SetSystemFolder(std::string folder) { system_folder_ = std::move(folder); }
  void InjectError(std::string prefix, int err) { injected_.emplace_back(std::move(prefix), err); }
  // Files created under `prefix` write as usual but cannot be flushed (EIO).
  void FailFlushes(std::string prefix) { unflushable_.push_back(std::move(prefix)); }

  std::string SystemFolder() override;
  std::string LastError() override;
  bool FileExists(std::string_view p) override { return !Fails(p) && PosixFileSystem::FileExists(p); }
  PathKind Probe(std::string_view p) override { return Fails(p) ? PathKind::Error : PosixFileSystem::Probe(p); }
  bool Inspect(std::string_view p, FileInfo* i) override { return !Fails(p) && PosixFileSystem::Inspect(p, i); }
  bool DirExists(std::string_view p) override { return !Fails(p) && PosixFileSystem::DirExists(p); }
  bool MakeDir(std::string_view p) override { return !Fails(p) && PosixFileSystem::MakeDir(p); }
  std::string ShortPath(std::string_view p) override { return Fails(p) ? "" : PosixFileSystem::ShortPath(p); }
  std::string LongPath(std::string_view p) override { return Fails(p) ? "" : PosixFileSystem::LongPath(p); }
  bool ListDir(std::string_view p, std::vector<DirEntry>* out) override;
  bool GetAttributes(std::string_view p, std::uint32_t* a) override {
    return !Fails(p) && PosixFileSystem::GetAttributes(p, a);
  }
  bool SetAttributes(std::string_view p, std::uint32_t a) override {
    return !Fails(p) && PosixFileSystem::SetAttributes(p, a);
  }
  std::unique_ptr<File> OpenRead(std::string_view p, bool exclusive) override {
    return Fails(p) ? nullptr : PosixFileSystem::OpenRead(p, exclusive);
  }
  std::unique_ptr<File> CreateWrite(std::string_view p) override;
  bool RemoveFile(std::string_view p) override { return !Fails(p) && PosixFileSystem::RemoveFile(p); }
  bool ReplaceWith(std::string_view from, std::string_view to) override {
    return !Fails(from) && !Fails(to) && PosixFileSystem::ReplaceWith(from, to);
  }

 private:
  // True (and the error kept for LastError) when an injected fault covers `path`.
  bool Fails(std::string_view path);
  std::string system_folder_;
  std::vector<std::pair<std::string, int>> injected_;
  std::vector<std::string> unflushable_;
  int injected_error_ = 0;
};

// The program's registry store with keys that refuse to be opened for
// writing, or whose values cannot be read or deleted (as with a value whose
// owner changed its rights). Both fail with access denied.
class TestRegistry : public MemoryRegistry {
 public:
  void DenyWrites(std::string_view path);
  void FailValueAccess(std::string_view path);
  std::unique_ptr<RegistryKey> Open(std::string_view path, RegAccess access) override;
  std::unique_ptr<RegistryKey> Create(std::string_view path) override;

 private:
  std::vector<std::string> denied_, failing_;
};

// Runs children for real, remembers their command lines and counts how
// many were alive at once.
class RecordingLauncher : public ProcessLauncher {
 public:
  std::unique_ptr<ChildSet> NewChildSet() override;
  std::string LastError() override { return real.LastError(); }
  int UsableProcessors() override { return real.UsableProcessors(); }
  void TrimWorkingSet() override {}
  bool IsRunning(std::string_view image) override { return real.IsRunning(image); }
  std::uint32_t CurrentProcessId() override { return real.CurrentProcessId(); }
  // How many children were started so far; safe while a command runs.
  std::size_t Started() {
    std::lock_guard<std::mutex> lock(mutex);
    return lines.size();
  }
  PosixProcessLauncher real;
  std::mutex mutex;  // guards `lines`
  std::vector<std::string> lines;
  int alive = 0, mostAlive = 0;
  std::function<void(ChildProcess&)> onStart;  // each child as it starts, on the command's thread
  std::function<void()> onStarting;            // before each start, on the command's thread
  bool exitBeforeTerminate = false;  // a child asked to end ends by itself first
  double startSeconds = 0;           // spent starting children
};

struct TestApp {
  TestApp();
  TestRegistry registry;
  TestFileSystem fs;
  RecordingLauncher processes;
  FakeShell shell;
  FakeView view;
  App app;
  Session& session() { return app.session(); }
  const Target& target() const { return app.target(); }
  // Puts the stand-in compiler into dir/ide/bin.
  static void PlaceCompiler(const TempDir& dir);
  // Registers a release under its base key, with an App file that exists.
  void RegisterIde(int index, const std::string& root_dir, const TempDir& dir);
  // Selects release `index` as a click on its radio button would.
  void Choose(int index) { app.OnCommand(kFirstIdeId + index); }
  // A click on control `id`, then the window's turns until the command it
  // started (if any) has ended: each batch of its events handled as the
  // window handles them, onEvents after each.
  void Click(int id) {
    app.OnCommand(id);
    Settle();
  }
  void Settle();
  // As if the command's button had been enabled by the user's progress.
  void EnableCommand(CommandId id) { app.enabled[static_cast<std::size_t>(id)] = true; }
  static constexpr int kFirstIdeId = ctl::kFirstRelease;
  // The start-up checks, as when the window is about to appear.
  void Start() { app.Start(); }
  // A library generated into dir/lib for the given suffixes, a release with
  // the stand-in compiler in dir/ide/bin, chosen, and the library folder set.
  void SetUpLibrary(const TempDir& dir, int ide_index, std::vector<std::string> suffixes);
  std::vector<std::string> LogLines() { return view.Lines(); }
  // dir/lib as the library folder (marker only), release `ide_index`
  // registered, the program started and the release chosen; the system
  // folder is dir/sys, the roaming application data folder dir/appdata.
  void StartWithRelease(const TempDir& dir, int ide_index);
};

// The folder holding the stand-in compiler and the helper programs.
std::string ToolsDir();
// Lines of a text, split at CR LF or LF.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace kestrin::test
