#include "app/app.h"

#include <exception>

#include "app/controls.h"

namespace kestrin {

App::App(Platform p, View& v)
    : registry(p.registry), fs(p.fs), processes(p.processes), shell(p.shell), view(v) {}

void App::Apply(StateEvent e) {
  CommandStates& s = states;
  switch (e) {
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
  const bool idle = !busy;
  for (int i = 0; i < ctl::kIdeCount; ++i) view.SetEnabled(ctl::kFirstIde + i, ideAvailable[i] && idle);
  view.SetEnabled(ctl::kBtnSelect, idle);
  view.SetEnabled(ctl::kBtnUnSelect, idle);
  view.SetEnabled(ctl::kBtnCompile, states.compile && idle);
  view.SetEnabled(ctl::kButton4, states.verify && idle);
  view.SetEnabled(ctl::kButton10, states.copy && idle);
  view.SetEnabled(ctl::kButton8, states.install && idle);
  view.SetEnabled(ctl::kButton9, states.uninstall && idle);
  view.SetEnabled(ctl::kCheckBox1, states.deleteBpl && idle);
  // Last, so that a live folder button means every state above is in place.
  view.SetEnabled(ctl::kSelectDevDir, idle);
}

void App::SetPathText(std::string_view text) {
  if (view.PathText() == text) return;
  view.SetPathText(text);
  EditPathChange(*this);
}

bool App::ShouldAbortChild() {
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
  ctx.StopRequested = true;
}

void App::RunLong(void (*command)(App&)) {
  busy = true;
  RefreshControls();
  struct Unlock {
    App& a;
    ~Unlock() {
      a.busy = false;
      a.RefreshControls();
    }
  } unlock{*this};
  command(*this);
}

template <class F>
void App::Guarded(F&& body) {
  try {
    body();
  } catch (const std::exception& e) {  // registry errors among them
    view.ShowMessage(e.what(), kAppTitle, MessageIcon::Error);
  }
}

void App::Start() {
  Guarded([this] { FormShow(*this); });
}

void App::OnCommand(int id) {
  Guarded([this, id] {
    if (id >= ctl::kFirstIde && id < ctl::kFirstIde + ctl::kIdeCount) {
      int index = id - ctl::kFirstIde;
      if (busy || !ideAvailable[index] || index == selectedIde) return;
      ChooseRelease(*this, index);
      return;
    }
    switch (id) {
      // Pane buttons work at any time, also inside a running command.
      case ctl::kButton11: Button11Click(*this); return;
      case ctl::kButton5: Button5Click(*this); return;
      case ctl::kButton6: Button6Click(*this); return;
      case ctl::kButton7: Button7Click(*this); return;
      case ctl::kMenuSaveLog: S1Click(*this); return;
      case ctl::kLabel1: Label1Click(*this); return;
      case ctl::kBtnExit: OnExitRequest(); return;
      case ctl::kBtnStop:
        if (busy) BtnStopClick(*this);
        return;
      default: break;
    }
    if (busy) return;  // a click that reached a control disabled for the run
    switch (id) {
      case ctl::kSelectDevDir: SelectDevDirClick(*this); break;
      case ctl::kBtnSelect: BtnSelectClick(*this); break;
      case ctl::kBtnUnSelect: BtnUnSelectClick(*this); break;
      case ctl::kBtnCompile: if (states.compile) RunLong(BtnCompileClick); break;
      case ctl::kButton4: if (states.verify) RunLong(Button4Click); break;
      case ctl::kButton10: if (states.copy) RunLong(Button10Click); break;
      case ctl::kButton8: if (states.install) RunLong(Button8Click); break;
      case ctl::kButton9: if (states.uninstall) RunLong(Button9Click); break;
      default: break;
    }
  });
  if (exitRequested && !busy && endProgram) endProgram();
}

void TrimWorkingSetAndPump(App& app) {
  app.processes.TrimWorkingSet();
  app.view.PumpMessages();
}

}  // namespace kestrin
