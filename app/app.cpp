#include "app/app.h"

#include <cstdio>
#include <exception>

#include "app/panes.h"
#include "platform/text.h"
#include "catalogue/catalogue.h"
#include "targets/library_folder.h"
#include "targets/releases.h"

namespace kestrin {
namespace {

// A package's state in the build list after its compile.
std::pair<std::string, RowLook> CompiledStatus(const PackageResult& r) {
  switch (r.outcome) {
    case PackageOutcome::Compiled: {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%.1f", std::chrono::duration<double>(r.time).count());
      return {"成功 " + std::string(seconds) + " 秒", RowLook::Good};
    }
    case PackageOutcome::Failed:
    case PackageOutcome::ProjectNotFound: return {"失败: " + r.Reason(), RowLook::Bad};
    case PackageOutcome::Skipped: return {"跳过: 缺少 " + r.needs, RowLook::Bad};
    case PackageOutcome::NotStarted:
    case PackageOutcome::Ended: break;
  }
  return {"未编译", RowLook::Plain};
}

}  // namespace

void App::WindowHost::Log(std::string_view text) { app_.view_.AppendLog(text); }
void App::WindowHost::Message(std::string_view text, std::string_view caption, MessageIcon icon) {
  app_.view_.ShowMessage(text, caption, icon);
}
bool App::WindowHost::Ask(std::string_view text, std::string_view caption) {
  return app_.view_.AskYesNo(text, caption);
}

App::App(Platform p, View& v)
    : view_(v),
      stop_([this] { return clockMs ? clockMs() : std::uint64_t{0}; }),
      host_(*this),
      session_(p, host_),
      queue_([this] { view_.WakeForEvents(); }),
      worker_host_(queue_, stop_),
      worker_session_(p, worker_host_) {
  // The window starts with the build list of Delphi 6 and 7, nothing ticked.
  const FixedList rows = BuildOrder(IdeFamily::Delphi);
  packages_.Load(std::vector<std::string>(rows.begin(), rows.end()));
  statuses_.assign(packages_.size(), "");
}

App::~App() {
  if (!worker_.joinable()) return;
  stop_.StopAndEnd();
  worker_.join();
}

const CompileHistory* App::LastCompile() const {
  if (!target_.release) return nullptr;
  auto it = history_.find(std::string(target_.longSuffix()));
  return it == history_.end() ? nullptr : &it->second;
}

void App::Apply(StateEvent e) {
  if (e == StateEvent::None) return;
  for (const CommandSpec& spec : kCommands) {
    const Turn turn = TurnAfter(spec, e);
    if (turn != Turn::Keep) enabled[static_cast<std::size_t>(spec.id)] = turn == Turn::On;
  }
  RefreshControls();
}

void App::RefreshControls() {
  // While a command runs, nothing that starts another command or changes the
  // release or folder is live; stop, the pane buttons and exit stay live.
  const bool idle = !busy;
  for (std::size_t i = 0; i < kReleaseCount; ++i)
    view_.SetEnabled(ctl::ReleaseButton(i), releaseAvailable[i] && idle);
  view_.SetEnabled(ctl::kSelectAllButton, idle);
  view_.SetEnabled(ctl::kClearAllButton, idle);
  for (const CommandSpec& spec : kCommands) view_.SetEnabled(spec.button, Enabled(spec.id) && idle);
  // The box goes with the command it belongs to.
  view_.SetEnabled(ctl::kDeleteBplCheck, Enabled(CommandId::Uninstall) && idle);
  view_.SetEnabled(ctl::kParallelCheck, idle);
  // Last, so that a live folder button means every state above is in place.
  view_.SetEnabled(ctl::kChooseFolderButton, idle);
}

void App::OnExitRequest() {
  if (!busy) {
    if (endProgram) endProgram();
    return;
  }
  // The running command finishes first (a compile starts nothing more, and
  // a compiler still running after the grace period is ended); the program
  // then ends.
  exitRequested = true;
  stop_.StopAndEnd();
}

void App::OnTicked(std::size_t row, bool ticked) { packages_.Tick(row, ticked); }

void App::OnRowActivated(std::size_t row) {
  if (row >= packages_.size() || !target_.release) return;
  view_.RevealLogLine("编译：" + PackageFileName(Trim(packages_.row(row)), target_.shortSuffix(), ".dpk"));
}

void App::LoadPackages(std::vector<std::string> rows) {
  packages_.Load(std::move(rows));
  statuses_.assign(packages_.size(), "");
  view_.LoadBuildList(packages_.rows());
}

void App::TickAll(bool ticked) {
  packages_.TickAll(ticked);
  for (std::size_t i = 0; i < packages_.size(); ++i) view_.SetTicked(static_cast<int>(i), ticked);
}

void App::SetStatus(std::size_t row, std::string text, RowLook look) {
  if (row >= statuses_.size()) return;
  statuses_[row] = std::move(text);
  view_.SetStatus(static_cast<int>(row), statuses_[row], look);
}

void App::SetLibraryFolder(std::string_view text) {
  if (shown_path_ == text) return;
  shown_path_ = std::string(text);
  view_.SetPathText(text);
  target_.library = NormalizeFolderPath(text);
}

void App::ChooseLibraryFolder() {
  if (auto folder = PickLibraryFolder(session_)) SetLibraryFolder(*folder);
}

template <class F>
void App::Guarded(F&& body) {
  try {
    body();
  } catch (const std::exception& e) {  // registry errors among them
    view_.ShowMessage(e.what(), kAppTitle, MessageIcon::Error);
  }
}

void App::Start() {
  Guarded([this] {
    if (auto folder = LibraryFolderAtStart(session_)) SetLibraryFolder(*folder);
    releaseAvailable = ProbeReleases(session_);
    RefreshControls();
  });
}

// Everything that can fail comes first, so a failed choice changes nothing.
// Asks for the library folder first when none is chosen.
void App::ChooseRelease(std::size_t index) {
  const IdeProfile& ide = kIdeProfiles[index];
  if (shown_path_.empty()) ChooseLibraryFolder();
  ReleaseChoice choice = kestrin::ChooseRelease(session_, ide, target_.compilerFolder);
  target_.release = &ide;
  target_.compilerFolder = choice.compilerFolder;
  LoadPackages(std::move(choice.rows));
  for (std::size_t i = 0; i < kReleaseCount; ++i) view_.SetChecked(ctl::ReleaseButton(i), i == index);
  Apply(StateEvent::ReleaseChosen);
}

// The command starts on its own thread with what the window shows now; the
// window stays with the user, locked for other commands.
void App::Launch(CommandId id) {
  CommandRequest request{target_, packages_, view_.IsChecked(ctl::kParallelCheck),
                         view_.IsChecked(ctl::kDeleteBplCheck), false, std::nullopt};
  if (const CompileHistory* last = LastCompile()) request.last = *last;
  if (id == CommandId::Compile)
    for (std::size_t row = 0; row < packages_.size(); ++row)
      SetStatus(row, packages_.ticked(row) ? "等待" : "", RowLook::Plain);
  busy = true;
  running_ = id;
  started_ms_ = clockMs ? clockMs() : 0;
  if (id == CommandId::Compile) {
    done_ = 0;
    ticked_ = static_cast<int>(packages_.TickedCount());
    failed_ = false;
    view_.SetTaskbarProgress(0, ticked_, false);
  }
  stop_.Reset();
  RefreshControls();
  worker_ = std::thread([this, id, request = std::move(request)] {
    CommandOutcome outcome = RunCommand(worker_session_, id, request);
    queue_.Put(event::Ended{std::move(outcome)});
  });
}

void App::HandleEvents() {
  // One at a time: a question's box lets the window handle events meanwhile,
  // and those come after it in order.
  while (std::optional<Event> e = queue_.Take()) {
    try {
      Handle(*e);
    } catch (...) {
      // An event that could not be shown holds up neither the events after
      // it nor a command waiting for an answer.
      if (auto* question = std::get_if<event::Question>(&*e)) question->answer->Give(false);
    }
  }
}

void App::Handle(Event& e) {
  std::visit(
      [this](auto& ev) {
        using T = std::decay_t<decltype(ev)>;
        if constexpr (std::is_same_v<T, event::Log>) view_.AppendLog(ev.text);
        else if constexpr (std::is_same_v<T, event::ShowLog>) view_.ShowLogPage();
        else if constexpr (std::is_same_v<T, event::Note>) view_.AppendCommandPane(ev.text);
        else if constexpr (std::is_same_v<T, event::ClearNotes>) view_.ClearCommandPane();
        else if constexpr (std::is_same_v<T, event::Running>) view_.SetRunningLook(ev.on);
        else if constexpr (std::is_same_v<T, event::Progress>) view_.SetGauge(ev.position, ev.maximum);
        else if constexpr (std::is_same_v<T, event::Caption>) view_.SetCaption(ev.text);
        else if constexpr (std::is_same_v<T, event::PackageStarted>) SetStatus(ev.row, "编译中", RowLook::Plain);
        else if constexpr (std::is_same_v<T, event::PackageEnded>) {
          auto [text, look] = CompiledStatus(ev.result);
          SetStatus(ev.result.row, std::move(text), look);
          failed_ = failed_ || look == RowLook::Bad;
          view_.SetTaskbarProgress(++done_, ticked_, failed_);
        } else if constexpr (std::is_same_v<T, event::Message>) view_.ShowMessage(ev.text, ev.caption, ev.icon);
        else if constexpr (std::is_same_v<T, event::Question>) ev.answer->Give(view_.AskYesNo(ev.text, ev.caption));
        else if constexpr (std::is_same_v<T, event::Ended>) Finish(ev.outcome);
      },
      e);
}

// The command's end: what the window keeps of it, the commands it opens.
void App::Finish(CommandOutcome& o) {
  if (worker_.joinable()) worker_.join();
  busy = false;
  if (!o.error.empty()) view_.ShowMessage(o.error, kAppTitle, MessageIcon::Error);
  // A run long enough for the user to have turned to something else says
  // that it has ended.
  constexpr std::uint64_t kLongRunMs = 10000;
  const bool noticed = o.id == CommandId::Compile || o.id == CommandId::Copy || o.id == CommandId::Install ||
                       o.id == CommandId::Diagnose;
  if (noticed && clockMs && clockMs() - started_ms_ > kLongRunMs) view_.NoticeEnd();
  switch (o.id) {
    case CommandId::Compile:
      view_.SetTaskbarProgress(0, 0, false);
      if (o.compile && o.compile->started) history_[std::string(target_.longSuffix())] = HistoryOf(*o.compile);
      for (std::size_t row = 0; row < statuses_.size(); ++row)
        if (statuses_[row] == "等待" || statuses_[row] == "编译中") SetStatus(row, "未编译", RowLook::Plain);
      break;
    case CommandId::Verify:
      if (o.verify && o.verify->started) {
        TickAll(false);
        for (std::size_t row = 0; row < packages_.size(); ++row) SetStatus(row, "已编译", RowLook::Good);
        for (std::size_t i = 0; i < o.verify->missing.size(); ++i) {
          const std::size_t row = o.verify->missing[i];
          packages_.Tick(row, true);
          view_.SetTicked(static_cast<int>(row), true);
          const std::string& why = o.verify->reasons[i];
          SetStatus(row, why.empty() ? "未编译" : "未编译: " + why, RowLook::Bad);
        }
      }
      break;
    case CommandId::Install:
      if (o.install && o.install->unloadable > 0) view_.AppendCommandPane(UnloadableLine(o.install->unloadable));
      break;
    default: break;
  }
  // A compile that failed part-way leaves the output folder as unknown as a
  // stopped one.
  const bool compile_error = o.id == CommandId::Compile && !o.error.empty();
  Apply(o.result.started || compile_error ? EndedEvent(o.id) : StateEvent::None);
  RefreshControls();
  if (exitRequested && endProgram) endProgram();
}

void App::OnCommand(int id) {
  Session& s = session_;
  Guarded([this, &s, id] {
    if (id >= ctl::ReleaseButton(0) && id < ctl::ReleaseButton(kReleaseCount)) {
      const auto index = static_cast<std::size_t>(id - ctl::ReleaseButton(0));
      const bool chosen = target_.release && ReleaseIndex(*target_.release) == index;
      if (busy || !releaseAvailable[index] || chosen) return;
      ChooseRelease(index);
      return;
    }
    switch (id) {
      // Pane buttons work at any time, also while a command runs.
      case ctl::kClearCommandsButton: view_.ClearCommandPane(); return;
      case ctl::kClearLogButton: view_.ClearLog(); return;
      case ctl::kCopyCommandsButton: view_.CopyCommandPane(); return;
      case ctl::kRunCmdButton: s.shell.StartCommandPrompt(); return;
      case ctl::kSaveLogMenu: SaveLog(s, view_.LogText()); return;
      case ctl::kForumLink: s.shell.OpenUrl(kForumUrl); return;
      case ctl::kExitButton: OnExitRequest(); return;
      case ctl::kStopButton:
        if (busy && running_ == CommandId::Compile && !stop_.stopped()) {
          // Back to the idle look at once, while the package in progress
          // finishes; the run logs the stop.
          stop_.Stop();
          view_.SetRunningLook(false);
        }
        return;
      default: break;
    }
    if (busy) return;  // a click that reached a control disabled for the run
    switch (id) {
      case ctl::kChooseFolderButton: ChooseLibraryFolder(); return;
      case ctl::kSelectAllButton: TickAll(true); return;
      case ctl::kClearAllButton: TickAll(false); return;
      default: break;
    }
    for (const CommandSpec& spec : kCommands)
      if (spec.button == id && Enabled(spec.id)) Launch(spec.id);
  });
}

}  // namespace kestrin
