// The window's behaviour, apart from its Win32 face: keeps what the user has
// chosen (the library folder, the release, the ticks), routes each click to
// its command with a request made from that, keeps the enabled state of the
// commands as their results set it, and refuses a second command while one
// runs. Portable: it reaches the window through View, so it runs the same in
// tests.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "app/commands.h"
#include "app/view.h"
#include "catalogue/ide_profiles.h"
#include "compile/compile.h"
#include "core/session.h"
#include "core/target.h"

namespace kestrin {

inline constexpr std::string_view kMainCaption = "Kestrin (支持38,40,41,42等版本的DEV组件)";

class App {
 public:
  App(Platform platform, View& view);

  std::array<bool, kReleaseCount> releaseAvailable{};  // the release buttons the probe enabled
  std::array<bool, kCommandCount> enabled{};           // the commands' buttons, by CommandId
  bool busy = false;           // a long command is running
  bool exitRequested = false;  // exit asked for while busy
  std::function<void()> endProgram;        // ends the message loop
  std::function<std::uint64_t()> clockMs;  // milliseconds, for the exit grace period

  // Routes a click on control `id` (app/controls.h), refusing commands while
  // another one runs. Every error ends here as a message box.
  void OnCommand(int id);
  void OnExitRequest();  // the exit button and the window's close button
  // The user ticked or cleared a row of the build list.
  void OnTicked(std::size_t row, bool ticked);
  // The start-up checks (library folder, then the installed releases),
  // guarded like a command.
  void Start();
  // Puts `text` into the path box and takes it as the library folder.
  void SetLibraryFolder(std::string_view text);
  // The build list, shown with nothing ticked.
  void LoadPackages(std::vector<std::string> rows);

  const Target& target() const { return target_; }
  const PackageList& packages() const { return packages_; }
  Session& session() { return session_; }
  // The last compile run of the chosen release in this program run, if any.
  const CompileHistory* LastCompile() const;

  void Apply(StateEvent event);
  void RefreshControls();  // pushes states (and the running lock) to the window

 private:
  // What the commands see of the window: the log, the gauge, the dialogs,
  // and the stop token.
  class WindowHost : public Host {
   public:
    explicit WindowHost(App& app) : app_(app) {}
    void Log(std::string_view text) override;
    void ShowLog() override;
    void Note(std::string_view text) override;
    void ClearNotes() override;
    void Running(bool running) override;
    void Progress(int position, int maximum) override;
    void Caption(std::string_view caption) override;
    void Message(std::string_view text, std::string_view caption, MessageIcon icon) override;
    bool Ask(std::string_view text, std::string_view caption) override;
    void Pump() override;
    bool StopRequested() override;
    bool EndRequested() override;

   private:
    App& app_;
  };

  bool Enabled(CommandId id) const { return enabled[static_cast<std::size_t>(id)]; }
  void ChooseRelease(std::size_t index);
  void ChooseLibraryFolder();
  void TickAll(bool ticked);
  void Run(CommandId id);
  // Runs a long command with every other command locked; `on_error` is the
  // state that follows when it fails part-way.
  void RunLong(const std::function<StateEvent()>& command, StateEvent on_error = StateEvent::None);
  // Runs `body`; an error that reaches here is shown in a message box.
  template <class F>
  void Guarded(F&& body);

  View& view_;
  WindowHost host_;
  Session session_;
  Target target_;
  PackageList packages_;
  std::string shown_path_;  // the path box's text
  StopToken stop_;
  std::map<std::string, CompileHistory> history_;  // by the release's long suffix
};

}  // namespace kestrin
