// Shell services: dialogs, the browser, a command prompt.
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
};

}  // namespace kestrin
