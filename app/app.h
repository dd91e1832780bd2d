// The program's state and the handlers of the main window. Everything here
// is portable: it reaches the system through the platform interfaces and the
// window through View, so the commands run the same in tests.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "app/tool_context.h"
#include "app/view.h"
#include "catalogue/catalogue.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace kestrin {

// An error that stops the running command; its text is shown in a box.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Platform {
  Registry& registry;
  FileSystem& fs;
  ProcessLauncher& processes;
  Shell& shell;
};

// Enabled states of the six controls of the command group, as the user's
// progress sets them (the table of states lives in App::Apply).
struct CommandStates {
  bool compile = false, verify = false, copy = false, install = false, uninstall = false,
       deleteBpl = false;
};

enum class StateEvent { ReleaseChosen, CompileEnded, VerifyEnded, CopyEnded };

inline constexpr std::string_view kMainCaption = "Kestrin (支持38,40,41,42等版本的DEV组件)";
inline constexpr std::string_view kAppTitle = "Kestrin";
inline constexpr std::string_view kForumUrl = "https://supportcenter.devexpress.com/";
inline constexpr std::string_view kLogOpen = "=================================================";
inline constexpr std::string_view kLogDone = "========================完成======================";
inline constexpr std::string_view kNoOutput = "没有输出!";

class App {
 public:
  App(Platform platform, View& view);

  ToolContext ctx;
  WorkingLists lists;
  Registry& registry;
  FileSystem& fs;
  ProcessLauncher& processes;
  Shell& shell;
  View& view;

  std::array<bool, 7> ideAvailable{};  // radio buttons the probe enabled
  int selectedIde = -1;                // index into kIdeProfiles, -1 until chosen
  CommandStates states;
  bool busy = false;           // a long command is running
  bool exitRequested = false;  // exit asked for while busy
  std::function<void()> endProgram;          // ends the message loop
  std::function<std::uint64_t()> clockMs;    // milliseconds, for the exit grace period

  // Routes a click on control `id` (app/controls.h), refusing commands while
  // another one runs. Every error ends here as a message box.
  void OnCommand(int id);
  void OnExitRequest();  // the exit button and the window's close button
  // The start-up checks, guarded like a command.
  void Start();

  void Apply(StateEvent event);
  void RefreshControls();  // pushes states (and the running lock) to the window
  // Puts text into the path box; runs EditPathChange when the text changes.
  void SetPathText(std::string_view text);
  void Log(std::string_view line) { view.AppendLog(line); }
  // True when the running compiler should be ended: exit was asked for and
  // the grace period ran out.
  bool ShouldAbortChild();

 private:
  void RunLong(void (*command)(App&));
  // Runs `body`; an error that reaches here is shown in a message box.
  template <class F>
  void Guarded(F&& body);
  std::uint64_t exit_requested_at_ = 0;
};

// Handlers, named after their controls.
void FormShow(App& app);
void SelectDevDirClick(App& app);
void EditPathChange(App& app);
void ChooseRelease(App& app, int index);  // Delphi6Click .. RAD2009Click
void BtnSelectClick(App& app);
void BtnUnSelectClick(App& app);
void BtnCompileClick(App& app);
void BtnStopClick(App& app);
void Button4Click(App& app);   // verify
void Button10Click(App& app);  // copy
void Button8Click(App& app);   // install
void Button9Click(App& app);   // uninstall
void Button11Click(App& app);  // clear commands
void Button5Click(App& app);   // clear log
void Button6Click(App& app);   // copy commands
void Button7Click(App& app);   // run CMD
void S1Click(App& app);        // save log
void Label1Click(App& app);

// Calls the platform's working-set trim, then pumps window messages.
void TrimWorkingSetAndPump(App& app);

}  // namespace kestrin
