#include "app/app.h"

#include <exception>

#include "app/panes.h"
#include "catalogue/catalogue.h"
#include "compile/verify.h"
#include "ide/deploy.h"
#include "ide/diagnose.h"
#include "ide/install.h"
#include "ide/uninstall.h"
#include "targets/library_folder.h"
#include "targets/releases.h"

namespace kestrin {

void App::WindowHost::Log(std::string_view text) { app_.view_.AppendLog(text); }
void App::WindowHost::ShowLog() { app_.view_.ShowLogPage(); }
void App::WindowHost::Note(std::string_view text) { app_.view_.AppendCommandPane(text); }
void App::WindowHost::ClearNotes() { app_.view_.ClearCommandPane(); }
void App::WindowHost::Running(bool running) { app_.view_.SetRunningLook(running); }
void App::WindowHost::Progress(int position, int maximum) { app_.view_.SetGauge(position, maximum); }
void App::WindowHost::Caption(std::string_view caption) { app_.view_.SetCaption(caption); }
void App::WindowHost::Message(std::string_view text, std::string_view caption, MessageIcon icon) {
  app_.view_.ShowMessage(text, caption, icon);
}
bool App::WindowHost::Ask(std::string_view text, std::string_view caption) {
  return app_.view_.AskYesNo(text, caption);
}
void App::WindowHost::Pump() { app_.view_.PumpMessages(); }
bool App::WindowHost::StopRequested() { return app_.stop_.stopped(); }
bool App::WindowHost::EndRequested() {
  return app_.clockMs && app_.stop_.EndNow(app_.clockMs());
}

App::App(Platform p, View& v) : view_(v), host_(*this), session_(p, host_) {
  // The window starts with the build list of Delphi 6 and 7, nothing ticked.
  const FixedList rows = BuildOrder(IdeFamily::Delphi);
  packages_.Load(std::vector<std::string>(rows.begin(), rows.end()));
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
  // The running command finishes first (a compile stops after the package in
  // progress, and one still running after the grace period is ended); the
  // program then ends.
  exitRequested = true;
  if (clockMs) stop_.StopAndEnd(clockMs());
  else stop_.Stop();
}

void App::OnTicked(std::size_t row, bool ticked) { packages_.Tick(row, ticked); }

void App::LoadPackages(std::vector<std::string> rows) {
  packages_.Load(std::move(rows));
  view_.LoadBuildList(packages_.rows());
}

void App::TickAll(bool ticked) {
  packages_.TickAll(ticked);
  for (std::size_t i = 0; i < packages_.size(); ++i) view_.SetTicked(static_cast<int>(i), ticked);
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

void App::RunLong(const std::function<StateEvent()>& command, StateEvent on_error) {
  busy = true;
  stop_.Reset();
  RefreshControls();
  struct Unlock {
    App& a;
    ~Unlock() {
      a.busy = false;
      a.RefreshControls();
    }
  } unlock{*this};
  StateEvent event = StateEvent::None;
  try {
    event = command();
  } catch (...) {
    Apply(on_error);
    throw;
  }
  Apply(event);
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
  const std::string compiler_folder = CompilerFolderOf(session_, ide, target_.compilerFolder);
  target_.release = &ide;
  target_.compilerFolder = compiler_folder;
  const FixedList rows = BuildOrder(ide.family);
  LoadPackages(std::vector<std::string>(rows.begin(), rows.end()));
  for (std::size_t i = 0; i < kReleaseCount; ++i) view_.SetChecked(ctl::ReleaseButton(i), i == index);
  Apply(StateEvent::ReleaseChosen);
}

void App::Run(CommandId id) {
  Session& s = session_;
  switch (id) {
    case CommandId::Compile:
      // A run that fails part-way leaves the output folder as unknown as
      // a stopped one: copy and install wait for a verification.
      RunLong(
          [&] {
            const CompileResult r = Compile(s, {.target = target_,
                                                .packages = packages_,
                                                .parallel = view_.IsChecked(ctl::kParallelCheck),
                                                .last = LastCompile()});
            if (r.started) history_[std::string(target_.longSuffix())] = HistoryOf(r);
            return r.next;
          },
          StateEvent::CompileEnded);
      break;
    case CommandId::Verify:
      RunLong([&] {
        const VerifyResult r = Verify(s, {.target = target_, .packages = packages_, .last = LastCompile()});
        if (r.started) {
          TickAll(false);
          for (std::size_t row : r.missing) {
            packages_.Tick(row, true);
            view_.SetTicked(static_cast<int>(row), true);
          }
        }
        return r.next;
      });
      break;
    case CommandId::Copy:
      RunLong([&] { return CopyRuntimePackages(s, {.target = target_}).next; });
      break;
    case CommandId::Install:
      RunLong([&] {
        const InstallResult r = Install(s, {.target = target_});
        if (r.unloadable > 0) view_.AppendCommandPane(UnloadableLine(r.unloadable));
        return r.next;
      });
      break;
    case CommandId::Uninstall:
      RunLong([&] {
        return Uninstall(s, {.target = target_,
                             .packages = packages_,
                             .deletePackageFiles = view_.IsChecked(ctl::kDeleteBplCheck)})
            .next;
      });
      break;
    case CommandId::Diagnose:
      RunLong([&] { return Diagnose(s, {.target = target_}).next; });
      break;
  }
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
      // Pane buttons work at any time, also inside a running command.
      case ctl::kClearCommandsButton: view_.ClearCommandPane(); return;
      case ctl::kClearLogButton: view_.ClearLog(); return;
      case ctl::kCopyCommandsButton: view_.CopyCommandPane(); return;
      case ctl::kRunCmdButton: s.shell.StartCommandPrompt(); return;
      case ctl::kSaveLogMenu: SaveLog(s, view_.LogText()); return;
      case ctl::kForumLink: s.shell.OpenUrl(kForumUrl); return;
      case ctl::kExitButton: OnExitRequest(); return;
      case ctl::kStopButton:
        if (busy) {
          stop_.Stop();
          StopCompile(s);
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
      if (spec.button == id && Enabled(spec.id)) Run(spec.id);
  });
  if (exitRequested && !busy && endProgram) endProgram();
}

}  // namespace kestrin
