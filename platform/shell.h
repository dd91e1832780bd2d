// Shell services: dialogs, the browser, a command prompt, the user's folders.
// Failures are reported as everywhere in the platform layer: the call's
// result says that it failed, and LastError() says why.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrin {

class Shell {
 public:
  virtual ~Shell() = default;
  // A modal folder picker over the main window; nullopt on cancel.
  virtual std::optional<std::string> PickFolder(std::string_view title) = 0;
  // A modal save dialog. `filter` alternates description and pattern with
  // '|' between them; the first entry is preselected.
  virtual std::optional<std::string> PickSaveFile(std::string_view filter,
                                                  std::string_view initial_folder) = 0;
  virtual void OpenUrl(std::string_view url) = 0;
  // Opens a command prompt window in the program's current folder.
  virtual void StartCommandPrompt() = 0;
  // Tells running programs that the user's environment settings changed.
  virtual void AnnounceEnvironmentChange() = 0;
  // The current user's roaming application data folder (%APPDATA%), without
  // a trailing backslash; empty when it cannot be had.
  virtual std::string RoamingAppDataFolder() = 0;
  // The Windows folder (C:\Windows), without a trailing backslash; empty
  // when it cannot be had.
  virtual std::string WindowsFolder() = 0;
  // The machine's PATH as the registry holds it (the system environment's
  // value Path), not expanded; empty when there is none or it cannot be read.
  virtual std::string MachinePath() = 0;
  // `text` with every %NAME% of this process's environment replaced by its
  // value; a name that is not set stays as it is written.
  virtual std::string ExpandEnvironment(std::string_view text) = 0;
  // The reason for the last failure of this service, as text.
  virtual std::string LastError() = 0;
};

}  // namespace kestrin
