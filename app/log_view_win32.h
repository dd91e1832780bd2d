// The log pane: a read-only view of many lines that costs little to add to,
// whatever it already holds. The text is kept once; each line's rows on
// screen (lines wrap at the pane's width, at a blank where there is one) are
// worked out once, as it arrives; only the rows in view are drawn. A system
// text control's cost for each addition grows with what it holds, and a
// rich edit control's memory with every line: neither suits a log of
// hundreds of thousands of lines.
//
// It answers WM_GETTEXT, WM_GETTEXTLENGTH, WM_SETTEXT, WM_COPY, EM_SETSEL,
// EM_GETSEL, EM_GETFIRSTVISIBLELINE (a row) and EM_SCROLLCARET as a text control does, so that what reads
// or selects text in a control reads and selects the log.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "app/window_proc_win32.h"
#include "platform/win32_handle.h"

namespace kestrin {

class LogView {
 public:
  LogView() = default;
  LogView(const LogView&) = delete;
  LogView& operator=(const LogView&) = delete;

  // Creates the pane as child `id` of `parent`, in pixels.
  HWND Create(HWND parent, int id, DWORD style, DWORD ex_style, int x, int y, int w, int h);
  HWND hwnd() const { return hwnd_; }

  // Appends `text`, lines ended by CR LF; the view follows the end when it
  // was at the end.
  void Append(const std::wstring& text);
  void Clear();
  const std::wstring& Text() const { return text_; }
  // Selects [from, to) and brings it into view.
  void Select(std::size_t from, std::size_t to);

 private:
  struct Row {
    std::size_t start = 0, length = 0;  // in text_, without the line's CR LF
  };

  template <class T>
  friend LRESULT CALLBACK ObjectWindowProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT Handle(UINT msg, WPARAM w, LPARAM l);
  void SetFont(HFONT font);
  // The rows of the line text_[start, end), wrapped at the pane's width.
  void AddRows(std::size_t start, std::size_t end);
  void Rewrap();
  // The row that holds text position `at`.
  long long RowOf(std::size_t at) const;
  int VisibleRows() const;
  int TextWidth() const;
  void ScrollTo(long long top);
  void UpdateScrollBar();
  void Paint(HDC dc, const RECT& area);
  // The text position under a point of the client area.
  std::size_t PositionAt(int x, int y);
  void SelectTo(std::size_t caret, bool extend);
  void Copy();

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;      // the window's font, owned by the window
  UniqueDc measure_;          // a memory DC with the font selected, for widths
  int line_height_ = 16;
  std::wstring text_;         // every line, each ended by CR LF
  std::vector<Row> rows_;
  std::size_t wrapped_ = 0;   // text_ up to here has its rows
  int wrapped_width_ = 0;     // the width those rows were made for
  long long top_ = 0;         // the first row in view
  std::size_t anchor_ = 0, caret_ = 0;  // the selection, from anchor to caret
  bool selecting_ = false;    // the mouse is making a selection
};

}  // namespace kestrin
