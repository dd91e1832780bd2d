// The window's behaviour, apart from its Win32 face: routes each click to
// its command, keeps the enabled state of the commands as the user's
// progress sets it, and refuses a second command while one runs. Portable:
// it reaches the window through View, so it runs the same in tests.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

#include "catalogue/ide_profiles.h"
#include "core/session.h"

namespace kestrin {

// Enabled states of the six controls of the command group.
struct CommandStates {
  bool compile = false, verify = false, copy = false, install = false, uninstall = false,
       deleteBpl = false;
};

inline constexpr std::string_view kMainCaption = "Kestrin (支持38,40,41,42等版本的DEV组件)";

class App {
 public:
  App(Platform platform, View& view);

  Session session;
  std::array<bool, kReleaseCount> releaseAvailable{};  // the release buttons the probe enabled
  CommandStates states;
  bool busy = false;           // a long command is running
  bool exitRequested = false;  // exit asked for while busy
  std::function<void()> endProgram;        // ends the message loop
  std::function<std::uint64_t()> clockMs;  // milliseconds, for the exit grace period

  // Routes a click on control `id` (app/controls.h), refusing commands while
  // another one runs. Every error ends here as a message box.
  void OnCommand(int id);
  void OnExitRequest();  // the exit button and the window's close button
  // The start-up checks (library folder, then the installed releases),
  // guarded like a command.
  void Start();

  void Apply(StateEvent event);
  void RefreshControls();  // pushes states (and the running lock) to the window

 private:
  void ChooseRelease(std::size_t index);
  // Runs a long command with every other command locked; `on_error` is the
  // state that follows when it fails part-way.
  void RunLong(const std::function<StateEvent()>& command, StateEvent on_error = StateEvent::None);
  // Runs `body`; an error that reaches here is shown in a message box.
  template <class F>
  void Guarded(F&& body);
  // True when the running compiler is to be ended: exit was asked for and
  // the grace period ran out.
  bool EndCompilerNow();
  std::uint64_t exit_requested_at_ = 0;
};

}  // namespace kestrin
