// The main window: the Win32 face of View. It builds the controls, turns
// their notifications into App calls, shows what the running command tells
// when App's events wake it, and does nothing else. It never waits: a long
// log goes into the pane a slice per turn of the message loop.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/log_view_win32.h"
#include "app/view.h"
#include "app/window_proc_win32.h"
#include "platform/win32_handle.h"

namespace kestrin {

class MainWindow : public View {
 public:
  MainWindow() = default;
  ~MainWindow() override;
  // Creates the window, hidden. `app` must outlive the window.
  bool Create(App& app, HINSTANCE instance);
  HWND hwnd() const { return hwnd_; }
  HWND Control(int id) const;
  // Everything waiting for the log pane goes into it now.
  void FlushLog();

  // View
  void AppendLog(std::string_view text) override;
  void ClearLog() override;
  std::string LogText() override;
  void ShowLogPage() override;
  void AppendCommandPane(std::string_view text) override;
  void ClearCommandPane() override;
  void CopyCommandPane() override;
  void SetEnabled(int id, bool enabled) override;
  void SetVisible(int id, bool visible);
  bool IsChecked(int id) override;
  void SetChecked(int id, bool on) override;
  void SetRunningLook(bool running) override;
  void SetGauge(int position, int maximum) override;
  void SetCaption(std::string_view caption) override;
  void SetPathText(std::string_view text) override;
  void LoadBuildList(const std::vector<std::string>& rows) override;
  void SetTicked(int index, bool ticked) override;
  void SetStatus(int index, std::string_view text, RowLook look) override;
  void RevealLogLine(std::string_view line) override;
  void NoticeEnd() override;
  void SetTaskbarProgress(int done, int total, bool failed) override;
  void WakeForEvents() override;
  // What the window asked of the shell: flashes, and whether the taskbar
  // button took the last progress.
  int FlashesAsked() const { return flashes_; }
  bool TaskbarTookProgress() const { return taskbar_took_; }
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  bool AskYesNo(std::string_view text, std::string_view caption) override;

 private:
  template <class T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK GroupProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK ListProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT Handle(UINT msg, WPARAM w, LPARAM l);
  LRESULT OnListNotify(NMHDR* n);
  HWND Make(HWND parent, const wchar_t* cls, std::string_view text, DWORD style, int x, int y,
            int w, int h, int id, DWORD ex_style = 0);
  void BuildControls();
  void AddHint(int id, std::string_view text);
  void ShowPage(int page);
  void DrawGauge(const DRAWITEMSTRUCT& d);
  void Dispatch(int id);
  // One slice of the waiting log into the pane; the rest on a later turn.
  void FlushSlice();
  void ScheduleFlush();
  int S(int v) const { return MulDiv(v, dpi_, 96); }
  static void AppendToEdit(HWND edit, const std::wstring& text);

  App* app_ = nullptr;
  HWND hwnd_ = nullptr, tip_ = nullptr;
  UniqueFont font_, link_font_;
  LogView log_view_;
  std::map<int, HWND> controls_;
  std::wstring pending_log_;  // what waits for the log pane, from pending_from_ on
  std::size_t pending_from_ = 0;
  std::vector<RowLook> looks_;  // each row of the build list
  int dpi_ = 96;
  int gauge_pos_ = 0, gauge_max_ = 0;
  bool link_red_ = false, loading_list_ = false, flush_posted_ = false;
  ComPtr<ITaskbarList3> taskbar_;  // where the system has it
  bool taskbar_asked_ = false, taskbar_took_ = false;
  int flashes_ = 0;
};

}  // namespace kestrin
