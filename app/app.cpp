#include "app/app.h"

#include <exception>

#include "app/controls.h"
#include "app/panes.h"
#include "compile/compile.h"
#include "compile/verify.h"
#include "ide/deploy.h"
#include "ide/install.h"
#include "ide/uninstall.h"
#include "targets/library_folder.h"
#include "targets/releases.h"

namespace kestrin {

App::App(Platform p, View& v) : session(p, v) {
  session.endCompilerNow = [this] { return EndCompilerNow(); };
}

void App::Apply(StateEvent e) {
  CommandStates& s = states;
  switch (e) {
    case StateEvent::None:
      return;
    case StateEvent::ReleaseChosen:
      s.compile = s.verify = s.uninstall = s.deleteBpl = true;
      s.copy = s.install = false;
      break;
    case StateEvent::CompileEnded:
      s.compile = s.verify = true;
      s.copy = s.install = false;
      break;
    case StateEvent::VerifyEnded:
    case StateEvent::CopyEnded:
      s.compile = s.verify = s.copy = s.install = true;
      break;
  }
  RefreshControls();
}

void App::RefreshControls() {
  // While a command runs, nothing that starts another command or changes the
  // release or folder is live; stop, the pane buttons and exit stay live.
  View& view = session.view;
  const bool idle = !busy;
  for (std::size_t i = 0; i < kReleaseCount; ++i)
    view.SetEnabled(ctl::kFirstRelease + static_cast<int>(i), releaseAvailable[i] && idle);
  view.SetEnabled(ctl::kSelectAllButton, idle);
  view.SetEnabled(ctl::kClearAllButton, idle);
  view.SetEnabled(ctl::kCompileButton, states.compile && idle);
  view.SetEnabled(ctl::kVerifyButton, states.verify && idle);
  view.SetEnabled(ctl::kCopyButton, states.copy && idle);
  view.SetEnabled(ctl::kInstallButton, states.install && idle);
  view.SetEnabled(ctl::kUninstallButton, states.uninstall && idle);
  view.SetEnabled(ctl::kDeleteBplCheck, states.deleteBpl && idle);
  view.SetEnabled(ctl::kParallelCheck, idle);
  // Last, so that a live folder button means every state above is in place.
  view.SetEnabled(ctl::kChooseFolderButton, idle);
}

bool App::EndCompilerNow() {
  if (!exitRequested || !clockMs) return false;
  return clockMs() - exit_requested_at_ > 3000;
}

void App::OnExitRequest() {
  if (!busy) {
    if (endProgram) endProgram();
    return;
  }
  // The running command finishes first (a compile stops after the package in
  // progress); the program then ends.
  if (!exitRequested && clockMs) exit_requested_at_ = clockMs();
  exitRequested = true;
  session.ctx.stopRequested = true;
}

void App::RunLong(const std::function<StateEvent()>& command, StateEvent on_error) {
  busy = true;
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
    session.view.ShowMessage(e.what(), kAppTitle, MessageIcon::Error);
  }
}

void App::Start() {
  Guarded([this] {
    TakeLibraryFolderAtStart(session);
    releaseAvailable = ProbeReleases(session);
    RefreshControls();
  });
}

void App::ChooseRelease(std::size_t index) {
  const StateEvent event = kestrin::ChooseRelease(session, kIdeProfiles[index]);
  for (std::size_t i = 0; i < kReleaseCount; ++i)
    session.view.SetChecked(ctl::kFirstRelease + static_cast<int>(i), i == index);
  Apply(event);
}

void App::OnCommand(int id) {
  Session& s = session;
  Guarded([this, &s, id] {
    if (id >= ctl::kFirstRelease && id < ctl::kFirstRelease + static_cast<int>(kReleaseCount)) {
      const auto index = static_cast<std::size_t>(id - ctl::kFirstRelease);
      const bool chosen = s.ctx.release && ReleaseIndex(*s.ctx.release) == index;
      if (busy || !releaseAvailable[index] || chosen) return;
      ChooseRelease(index);
      return;
    }
    switch (id) {
      // Pane buttons work at any time, also inside a running command.
      case ctl::kClearCommandsButton: s.view.ClearCommandPane(); return;
      case ctl::kClearLogButton: s.view.ClearLog(); return;
      case ctl::kCopyCommandsButton: s.view.CopyCommandPane(); return;
      case ctl::kRunCmdButton: s.shell.StartCommandPrompt(); return;
      case ctl::kSaveLogMenu: SaveLog(s); return;
      case ctl::kForumLink: s.shell.OpenUrl(kForumUrl); return;
      case ctl::kExitButton: OnExitRequest(); return;
      case ctl::kStopButton:
        if (busy) StopCompile(s);
        return;
      default: break;
    }
    if (busy) return;  // a click that reached a control disabled for the run
    switch (id) {
      case ctl::kChooseFolderButton: ChooseLibraryFolder(s); break;
      case ctl::kSelectAllButton: TickAll(s.view, true); break;
      case ctl::kClearAllButton: TickAll(s.view, false); break;
      case ctl::kCompileButton:
        // A run that fails part-way leaves the output folder as unknown as
        // a stopped one: copy and install wait for a verification.
        if (states.compile)
          RunLong([&s] { return Compile(s, {.parallel = s.view.IsChecked(ctl::kParallelCheck)}); },
                  StateEvent::CompileEnded);
        break;
      case ctl::kVerifyButton:
        if (states.verify) RunLong([&s] { return Verify(s); });
        break;
      case ctl::kCopyButton:
        if (states.copy) RunLong([&s] { return CopyRuntimePackages(s); });
        break;
      case ctl::kInstallButton:
        if (states.install) RunLong([&s] { Install(s); return StateEvent::None; });
        break;
      case ctl::kUninstallButton:
        if (states.uninstall)
          RunLong([&s] {
            Uninstall(s, s.view.IsChecked(ctl::kDeleteBplCheck));
            return StateEvent::None;
          });
        break;
      default: break;
    }
  });
  if (exitRequested && !busy && endProgram) endProgram();
}

}  // namespace kestrin
