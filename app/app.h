// The window's behaviour, apart from its Win32 face: keeps what the user has
// chosen (the library folder, the release, the ticks), runs each command on
// a thread of its own with a request copied from that, shows what the
// command tells as it tells it, keeps the enabled state of the commands and
// refuses a second command while one runs. Portable: it reaches the window
// through View, so it runs the same in tests.
//
// Threads: everything here runs on the window's thread; the command runs on
// its own and reaches the window only through the event queue (the window
// is woken and calls HandleEvents) and the stop token.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <thread>

#include "app/commands.h"
#include "app/dispatch.h"
#include "app/events.h"
#include "app/view.h"
#include "catalogue/ide_profiles.h"
#include "core/session.h"
#include "core/target.h"

namespace kestrin {

inline constexpr std::string_view kMainCaption = "Kestrin (支持38,40,41,42等版本的DEV组件)";

class App {
 public:
  App(Platform platform, View& view);
  // A command still running is stopped, its compilers ended, and waited for.
  ~App();

  std::array<bool, kReleaseCount> releaseAvailable{};  // the release buttons the probe enabled
  std::array<bool, kCommandCount> enabled{};           // the commands' buttons, by CommandId
  bool busy = false;           // a command is running
  bool exitRequested = false;  // exit asked for while busy
  std::function<void()> endProgram;        // ends the message loop
  std::function<std::uint64_t()> clockMs;  // milliseconds, for the exit grace period

  // Routes a click on control `id` (app/controls.h), refusing commands while
  // another one runs. Every error ends here as a message box.
  void OnCommand(int id);
  void OnExitRequest();  // the exit button and the window's close button
  // The user ticked or cleared a row of the build list.
  void OnTicked(std::size_t row, bool ticked);
  // The user double-clicked a row (or pressed Enter on it): the log shows
  // that package's compile.
  void OnRowActivated(std::size_t row);
  // The start-up checks (library folder, then the installed releases),
  // guarded like a command.
  void Start();
  // Puts `text` into the path box and takes it as the library folder.
  void SetLibraryFolder(std::string_view text);
  // The build list, shown with nothing ticked.
  void LoadPackages(std::vector<std::string> rows);
  // Shows what the running command has told since the last call, in order;
  // ends the command's run when it has ended. The window calls it when woken.
  void HandleEvents();

  const Target& target() const { return target_; }
  const PackageList& packages() const { return packages_; }
  Session& session() { return session_; }
  // The last compile run of the chosen release in this program run, if any.
  const CompileHistory* LastCompile() const;

  void Apply(StateEvent event);
  void RefreshControls();  // pushes states (and the running lock) to the window

 private:
  // The host of what runs on the window's own thread (the start-up checks,
  // choosing a release or folder, saving the log): straight to the window.
  class WindowHost : public Host {
   public:
    explicit WindowHost(App& app) : app_(app) {}
    void Log(std::string_view text) override;
    void Message(std::string_view text, std::string_view caption, MessageIcon icon) override;
    bool Ask(std::string_view text, std::string_view caption) override;
    StopToken& Stop() override { return app_.stop_; }

   private:
    App& app_;
  };

  bool Enabled(CommandId id) const { return enabled[static_cast<std::size_t>(id)]; }
  void ChooseRelease(std::size_t index);
  void ChooseLibraryFolder();
  void TickAll(bool ticked);
  void Launch(CommandId id);
  void Handle(Event& e);
  void Finish(CommandOutcome& outcome);
  void SetStatus(std::size_t row, std::string text, RowLook look);
  // Runs `body`; an error that reaches here is shown in a message box.
  template <class F>
  void Guarded(F&& body);

  View& view_;
  StopToken stop_;
  WindowHost host_;
  Session session_;
  EventQueue queue_;
  QueuedHost worker_host_;
  Session worker_session_;  // what the running command reaches
  std::thread worker_;
  CommandId running_ = CommandId::Compile;
  std::uint64_t started_ms_ = 0;           // when the running command began
  int done_ = 0, ticked_ = 0;              // a compile's packages ended, of those ticked
  bool failed_ = false;                    // one of them failed
  Target target_;
  PackageList packages_;
  std::vector<std::string> statuses_;  // each row's second column
  std::string shown_path_;  // the path box's text
  std::map<std::string, CompileHistory> history_;  // by the release's long suffix
};

}  // namespace kestrin
