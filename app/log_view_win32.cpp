#include "app/log_view_win32.h"

#include <windowsx.h>

#include <algorithm>

namespace kestrin {
namespace {

constexpr wchar_t kClassName[] = L"KestrinLogView";
constexpr int kMargin = 2;  // between the border and the text, in pixels

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

HWND LogView::Create(HWND parent, int id, DWORD style, DWORD ex_style, int x, int y, int w, int h) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  if (!GetClassInfoExW(instance, kClassName, &wc)) {
    wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = ObjectWindowProc<LogView>;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_IBEAM);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);
  }
  measure_.Reset(CreateCompatibleDC(nullptr));
  hwnd_ = CreateWindowExW(ex_style, kClassName, L"", WS_CHILD | WS_VSCROLL | style, x, y, w, h, parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, this);
  if (hwnd_) UpdateScrollBar();
  return hwnd_;
}

void LogView::SetFont(HFONT font) {
  font_ = font;
  SelectObject(measure_.Get(), font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(DEFAULT_GUI_FONT));
  TEXTMETRICW tm{};
  GetTextMetricsW(measure_.Get(), &tm);
  line_height_ = std::max<int>(1, tm.tmHeight + tm.tmExternalLeading);
  Rewrap();
}

int LogView::TextWidth() const {
  RECT r{};
  GetClientRect(hwnd_, &r);
  return std::max<int>(1, r.right - 2 * kMargin);
}

int LogView::VisibleRows() const {
  RECT r{};
  GetClientRect(hwnd_, &r);
  return std::max<int>(1, r.bottom / line_height_);
}

void LogView::AddRows(std::size_t start, std::size_t end) {
  const int width = TextWidth();
  do {
    // The characters that fit, then back to the last blank among them. No
    // character is narrower than a pixel, so no more than the width in
    // pixels is measured: a long line costs its length, not its square.
    const int left = static_cast<int>(std::min<std::size_t>(end - start, static_cast<std::size_t>(width) + 1));
    int fit = left;
    SIZE size{};
    if (left > 0 &&
        !GetTextExtentExPointW(measure_.Get(), text_.data() + start, left, width, &fit, nullptr, &size))
      fit = left;
    std::size_t length = static_cast<std::size_t>(std::max(fit, 1));
    if (start + length < end) {
      std::size_t blank = length;
      while (blank > 0 && !IsBlank(text_[start + blank - 1])) --blank;
      if (blank > 0) length = blank;
    } else {
      length = end - start;
    }
    rows_.push_back({start, length});
    start += length;
  } while (start < end);
}

void LogView::Rewrap() {
  // The view keeps its place: the text at its top, or the end if it was there.
  const bool at_end = top_ + VisibleRows() >= static_cast<long long>(rows_.size());
  const std::size_t top_text =
      top_ < static_cast<long long>(rows_.size()) ? rows_[static_cast<std::size_t>(top_)].start : 0;
  wrapped_width_ = TextWidth();
  rows_.clear();
  wrapped_ = 0;
  Append(std::wstring());
  top_ = at_end ? std::max<long long>(0, static_cast<long long>(rows_.size()) - VisibleRows())
                : RowOf(top_text);
  UpdateScrollBar();
}

long long LogView::RowOf(std::size_t at) const {
  const auto row = std::upper_bound(rows_.begin(), rows_.end(), at,
                                    [](std::size_t pos, const Row& r) { return pos < r.start; });
  return row == rows_.begin() ? 0 : (row - rows_.begin()) - 1;
}

void LogView::Append(const std::wstring& text) {
  if (!hwnd_) return;
  const bool at_end = top_ + VisibleRows() >= static_cast<long long>(rows_.size());
  text_ += text;
  // Whole lines only: a line's rows are made once its CR LF is there.
  for (std::size_t end = text_.find(L"\r\n", wrapped_); end != std::wstring::npos;
       end = text_.find(L"\r\n", wrapped_)) {
    AddRows(wrapped_, end);
    wrapped_ = end + 2;
  }
  if (at_end) top_ = std::max<long long>(0, static_cast<long long>(rows_.size()) - VisibleRows());
  UpdateScrollBar();
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void LogView::Clear() {
  text_.clear();
  rows_.clear();
  wrapped_ = 0;
  top_ = 0;
  anchor_ = caret_ = 0;
  if (!hwnd_) return;
  UpdateScrollBar();
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void LogView::UpdateScrollBar() {
  SCROLLINFO si{};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  si.nMin = 0;
  si.nMax = static_cast<int>(std::max<std::size_t>(rows_.size(), 1) - 1);
  si.nPage = static_cast<UINT>(VisibleRows());
  si.nPos = static_cast<int>(top_);
  SetScrollInfo(hwnd_, SB_VERT, &si, TRUE);
}

void LogView::ScrollTo(long long top) {
  const long long last = std::max<long long>(0, static_cast<long long>(rows_.size()) - VisibleRows());
  top = std::clamp<long long>(top, 0, last);
  if (top == top_) return;
  top_ = top;
  UpdateScrollBar();
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void LogView::Select(std::size_t from, std::size_t to) {
  anchor_ = std::min(from, text_.size());
  caret_ = std::min(to, text_.size());
  // The row that holds the start, a few rows below the top where it can be.
  const long long index = RowOf(std::min(anchor_, caret_));
  if (index < top_ || index >= top_ + VisibleRows()) ScrollTo(index - VisibleRows() / 3);
  InvalidateRect(hwnd_, nullptr, FALSE);
}

std::size_t LogView::PositionAt(int x, int y) {
  if (rows_.empty()) return text_.size();
  const long long index = top_ + (y < 0 ? -1 : y / line_height_);
  if (index < 0) return 0;
  if (index >= static_cast<long long>(rows_.size())) return text_.size();
  const Row& row = rows_[static_cast<std::size_t>(index)];
  int fit = 0;
  SIZE size{};
  const int width = std::max(0, x - kMargin);
  if (row.length > 0)
    GetTextExtentExPointW(measure_.Get(), text_.data() + row.start, static_cast<int>(row.length), width, &fit,
                          nullptr, &size);
  return row.start + static_cast<std::size_t>(std::clamp<int>(fit, 0, static_cast<int>(row.length)));
}

void LogView::SelectTo(std::size_t caret, bool extend) {
  if (!extend) anchor_ = caret;
  caret_ = caret;
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void LogView::Copy() {
  const std::size_t from = std::min(anchor_, caret_), to = std::max(anchor_, caret_);
  if (from == to || !OpenClipboard(hwnd_)) return;
  EmptyClipboard();
  const std::size_t bytes = (to - from + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    auto* target = static_cast<wchar_t*>(GlobalLock(memory));
    std::copy(text_.begin() + static_cast<long>(from), text_.begin() + static_cast<long>(to), target);
    target[to - from] = L'\0';
    GlobalUnlock(memory);
    // The clipboard owns it from here, or it goes back if it was not taken.
    if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
  }
  CloseClipboard();
}

void LogView::Paint(HDC dc, const RECT& area) {
  RECT client{};
  GetClientRect(hwnd_, &client);
  HGDIOBJ old_font = SelectObject(dc, font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(DEFAULT_GUI_FONT));
  const std::size_t from = std::min(anchor_, caret_), to = std::max(anchor_, caret_);
  const COLORREF text = GetSysColor(COLOR_WINDOWTEXT), back = GetSysColor(COLOR_WINDOW);
  const COLORREF sel_text = GetSysColor(COLOR_HIGHLIGHTTEXT), sel_back = GetSysColor(COLOR_HIGHLIGHT);
  const int first = std::max(0, static_cast<int>(area.top / line_height_));
  for (int i = first;; ++i) {
    const int y = i * line_height_;
    if (y >= area.bottom || y >= client.bottom) break;
    RECT line{client.left, y, client.right, y + line_height_};
    const long long index = top_ + i;
    if (index >= static_cast<long long>(rows_.size())) {
      SetBkColor(dc, back);
      ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &line, nullptr, 0, nullptr);
      continue;
    }
    const Row& row = rows_[static_cast<std::size_t>(index)];
    const wchar_t* chars = text_.data() + row.start;
    const int n = static_cast<int>(row.length);
    SetTextColor(dc, text);
    SetBkColor(dc, back);
    ExtTextOutW(dc, kMargin, y, ETO_OPAQUE, &line, chars, static_cast<UINT>(n), nullptr);
    // The selected part of the row drawn again over it, in the selection's colours.
    const std::size_t a = std::clamp(from, row.start, row.start + row.length);
    const std::size_t b = std::clamp(to, row.start, row.start + row.length);
    const bool to_line_end = to > row.start + row.length && from <= row.start + row.length;
    if (a == b && !to_line_end) continue;
    SIZE before{}, upto{};
    GetTextExtentPoint32W(dc, chars, static_cast<int>(a - row.start), &before);
    GetTextExtentPoint32W(dc, chars, static_cast<int>(b - row.start), &upto);
    RECT selected{kMargin + before.cx, y, kMargin + upto.cx + (to_line_end ? line_height_ / 3 : 0),
                  y + line_height_};
    SetTextColor(dc, sel_text);
    SetBkColor(dc, sel_back);
    ExtTextOutW(dc, kMargin, y, ETO_OPAQUE | ETO_CLIPPED, &selected, chars, static_cast<UINT>(n), nullptr);
  }
  SelectObject(dc, old_font);
}

LRESULT LogView::Handle(UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_SETFONT:
      SetFont(reinterpret_cast<HFONT>(w));
      if (LOWORD(l)) InvalidateRect(hwnd_, nullptr, TRUE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_SIZE:
      // Rows change only with the width; a taller or shorter pane keeps them.
      if (TextWidth() != wrapped_width_) Rewrap();
      else ScrollTo(top_);
      UpdateScrollBar();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      Paint(dc, ps.rcPaint);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_VSCROLL: {
      SCROLLINFO si{};
      si.cbSize = sizeof si;
      si.fMask = SIF_TRACKPOS;
      GetScrollInfo(hwnd_, SB_VERT, &si);
      const int page = VisibleRows();
      switch (LOWORD(w)) {
        case SB_LINEUP: ScrollTo(top_ - 1); break;
        case SB_LINEDOWN: ScrollTo(top_ + 1); break;
        case SB_PAGEUP: ScrollTo(top_ - page); break;
        case SB_PAGEDOWN: ScrollTo(top_ + page); break;
        case SB_TOP: ScrollTo(0); break;
        case SB_BOTTOM: ScrollTo(static_cast<long long>(rows_.size())); break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION: ScrollTo(si.nTrackPos); break;
        default: break;
      }
      return 0;
    }
    case WM_MOUSEWHEEL:
      ScrollTo(top_ - 3 * GET_WHEEL_DELTA_WPARAM(w) / WHEEL_DELTA);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN: {
      const bool ctrl = GetKeyState(VK_CONTROL) < 0;
      switch (w) {
        case VK_UP: ScrollTo(top_ - 1); return 0;
        case VK_DOWN: ScrollTo(top_ + 1); return 0;
        case VK_PRIOR: ScrollTo(top_ - VisibleRows()); return 0;
        case VK_NEXT: ScrollTo(top_ + VisibleRows()); return 0;
        case VK_HOME: if (ctrl) ScrollTo(0); return 0;
        case VK_END: if (ctrl) ScrollTo(static_cast<long long>(rows_.size())); return 0;
        case 'A':
          if (ctrl) Select(0, text_.size());
          return 0;
        case 'C':
        case VK_INSERT:
          if (ctrl) Copy();
          return 0;
        default: break;
      }
      break;
    }
    case WM_LBUTTONDOWN:
      SetFocus(hwnd_);
      SetCapture(hwnd_);
      selecting_ = true;
      SelectTo(PositionAt(GET_X_LPARAM(l), GET_Y_LPARAM(l)), (w & MK_SHIFT) != 0);
      return 0;
    case WM_MOUSEMOVE:
      if (!selecting_) break;
      {
        const int y = GET_Y_LPARAM(l);
        RECT r{};
        GetClientRect(hwnd_, &r);
        if (y < 0) ScrollTo(top_ - 1);
        else if (y >= r.bottom) ScrollTo(top_ + 1);
        SelectTo(PositionAt(GET_X_LPARAM(l), y), true);
      }
      return 0;
    case WM_LBUTTONUP:
      if (selecting_) {
        selecting_ = false;
        ReleaseCapture();
      }
      return 0;
    case WM_CAPTURECHANGED:
      selecting_ = false;
      return 0;
    case WM_LBUTTONDBLCLK: {
      // The whole line.
      const std::size_t at = PositionAt(GET_X_LPARAM(l), GET_Y_LPARAM(l));
      const std::size_t start = at == 0 ? 0 : text_.rfind(L"\r\n", at - 1);
      const std::size_t begin = start == std::wstring::npos || at == 0 ? 0 : start + 2;
      const std::size_t end = text_.find(L"\r\n", at);
      Select(begin, end == std::wstring::npos ? text_.size() : end);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(text_.size());
    case WM_GETTEXT: {
      if (w == 0 || !l) return 0;
      const std::size_t n = std::min<std::size_t>(text_.size(), static_cast<std::size_t>(w) - 1);
      auto* out = reinterpret_cast<wchar_t*>(l);
      std::copy(text_.begin(), text_.begin() + static_cast<long>(n), out);
      out[n] = L'\0';
      return static_cast<LRESULT>(n);
    }
    case WM_SETTEXT:
      Clear();
      if (l) Append(reinterpret_cast<const wchar_t*>(l));
      return TRUE;
    case WM_COPY:
      Copy();
      return 0;
    case EM_GETSEL: {
      const DWORD from = static_cast<DWORD>(std::min(anchor_, caret_));
      const DWORD to = static_cast<DWORD>(std::max(anchor_, caret_));
      if (w) *reinterpret_cast<DWORD*>(w) = from;
      if (l) *reinterpret_cast<DWORD*>(l) = to;
      return MAKELRESULT(std::min<DWORD>(from, 0xFFFF), std::min<DWORD>(to, 0xFFFF));
    }
    case EM_SETSEL: {
      const auto from = static_cast<long long>(static_cast<int>(w));
      const auto to = static_cast<long long>(static_cast<int>(l));
      anchor_ = from < 0 ? caret_ : static_cast<std::size_t>(std::min<long long>(from, text_.size()));
      caret_ = to < 0 ? text_.size() : static_cast<std::size_t>(std::min<long long>(to, text_.size()));
      InvalidateRect(hwnd_, nullptr, FALSE);
      return 0;
    }
    case EM_GETFIRSTVISIBLELINE:
      return static_cast<LRESULT>(top_);
    case EM_SCROLLCARET:
      Select(anchor_, caret_);
      return TRUE;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, w, l);
}

}  // namespace kestrin
