// The main window as App sees it: the controls by their ids (app/controls.h),
// the panes, the build list and the dialogs. The Win32 window implements it;
// tests implement it with a recording fake. Commands never see it: App hands
// them a Host over it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/host.h"

namespace kestrin {

// How a row of the build list is drawn: as usual, as done well (green), or
// as failed (red).
enum class RowLook { Plain, Good, Bad };

class View {
 public:
  virtual ~View() = default;
  // Log pane: one entry per call, shown as several lines if it holds breaks.
  virtual void AppendLog(std::string_view text) = 0;
  virtual void ClearLog() = 0;
  virtual std::string LogText() = 0;  // lines ended by CR LF, as the pane holds them
  virtual void ShowLogPage() = 0;
  // Command pane.
  virtual void AppendCommandPane(std::string_view text) = 0;
  virtual void ClearCommandPane() = 0;
  virtual void CopyCommandPane() = 0;  // select all and copy to the clipboard
  // Controls by the window's control id.
  virtual void SetEnabled(int id, bool enabled) = 0;
  virtual bool IsChecked(int id) = 0;  // check boxes and release buttons
  virtual void SetChecked(int id, bool on) = 0;
  // The look of a compile run: the stop button in place of the compile
  // button and the progress gauge in place of the select buttons; or back.
  virtual void SetRunningLook(bool running) = 0;
  virtual void SetGauge(int position, int maximum) = 0;
  virtual void SetCaption(std::string_view caption) = 0;
  virtual void SetPathText(std::string_view text) = 0;
  // The build list as the model holds it; the window reports the user's
  // ticks to App::OnTicked, and a row double-clicked (or Enter on it) to
  // App::OnRowActivated.
  virtual void LoadBuildList(const std::vector<std::string>& rows) = 0;
  virtual void SetTicked(int index, bool ticked) = 0;
  // A row's state in the list's second column, and its look.
  virtual void SetStatus(int index, std::string_view text, RowLook look) = 0;
  // Brings the log into view, scrolled to the last line that reads `line`,
  // selected; nothing when there is none.
  virtual void RevealLogLine(std::string_view line) = 0;
  // A long command has ended: the window asks for the user's eye when it is
  // not in front (its taskbar button flashes until it is).
  virtual void NoticeEnd() = 0;
  // The taskbar button's progress during a compile: `done` of `total`
  // ticked packages, red after a failure; `total` 0 takes it away.
  virtual void SetTaskbarProgress(int done, int total, bool failed) = 0;
  // Called from the running command's thread: events wait. The window then
  // calls App::HandleEvents on its own thread, soon.
  virtual void WakeForEvents() = 0;
  virtual void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
  // A question with Yes and No, No the default; true for Yes.
  virtual bool AskYesNo(std::string_view text, std::string_view caption) = 0;
};

}  // namespace kestrin
