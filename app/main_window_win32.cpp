#include "app/main_window_win32.h"

#include <commctrl.h>
#include <windowsx.h>

#include <cstdio>

#include "app/commands.h"
#include "app/controls.h"
#include "app/panes.h"
#include "catalogue/catalogue.h"
#include "catalogue/ide_profiles.h"
#include "platform/text.h"

namespace kestrin {
namespace {

constexpr wchar_t kClassName[] = L"KestrinMainWindow";
constexpr int kClientWidth = 552, kClientHeight = 479;
// Posted to the window: the running command has told something; and the
// log has more waiting for the pane.
constexpr UINT kEventsMessage = WM_APP + 1;
constexpr UINT kFlushMessage = WM_APP + 2;
// About the most characters one turn of the message loop puts into the log
// pane (a slice ends at a line's end), so that a long backlog is taken in
// over many turns.
constexpr std::size_t kSlice = 4096;
// The next slice where input waits: a timer's message comes after it, where
// a posted one would come first. (Painting is not waited for: each slice
// asks for one.)
constexpr UINT_PTR kFlushTimer = 1;
// The status column's width, at 96 dots per inch.
constexpr int kStatusWidth = 74;

struct Place {
  int x, y, w, h;
};

}  // namespace

MainWindow::~MainWindow() {
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

HWND MainWindow::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

HWND MainWindow::Make(HWND parent, const wchar_t* cls, std::string_view text, DWORD style, int x,
                      int y, int w, int h, int id, DWORD ex_style) {
  HWND c = CreateWindowExW(ex_style, cls, Widen(text).c_str(), WS_CHILD | style, S(x), S(y), S(w),
                           S(h), parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
  SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  controls_[id] = c;
  return c;
}

bool MainWindow::Create(App& app, HINSTANCE instance) {
  app_ = &app;
  HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (dpi_ <= 0) dpi_ = 96;

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ObjectWindowProc<MainWindow>;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm = wc.hIcon;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  RegisterClassExW(&wc);

  font_.Reset(CreateFontW(-MulDiv(8, dpi_, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                      DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));
  link_font_.Reset(CreateFontW(-MulDiv(8, dpi_, 72), 0, 0, 0, FW_NORMAL, FALSE, TRUE, FALSE,
                               DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, L"Tahoma"));

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT r{0, 0, S(kClientWidth), S(kClientHeight)};
  AdjustWindowRectEx(&r, style, FALSE, 0);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, Widen(kMainCaption).c_str(), style, x, y,
                          w, h, nullptr, nullptr, instance, this);
  if (!hwnd_) return false;
  BuildControls();
  app.endProgram = [this] {
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  };
  app.clockMs = [] { return static_cast<std::uint64_t>(GetTickCount64()); };
  return true;
}

void MainWindow::AddHint(int id, std::string_view text) {
  TOOLINFOW ti{};
  ti.cbSize = sizeof ti;
  ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  ti.hwnd = hwnd_;
  ti.uId = reinterpret_cast<UINT_PTR>(Control(id));
  std::wstring t = Widen(text);
  ti.lpszText = t.data();
  SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void MainWindow::BuildControls() {
  using namespace ctl;
  const DWORD vis = WS_VISIBLE, tab = WS_TABSTOP;
  const DWORD button = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
  auto group = [&](HWND parent, std::string_view text, Place p, int id) {
    HWND g = Make(parent, L"BUTTON", text, vis | BS_GROUPBOX, p.x, p.y, p.w, p.h, id,
                  WS_EX_CONTROLPARENT);
    SetWindowSubclass(g, GroupProc, 1, reinterpret_cast<DWORD_PTR>(this));
    return g;
  };

  // Created in tab order: the window's tab order follows creation.
  Make(hwnd_, L"STATIC", "安装目录:", vis, 8, 10, 57, 13, kPathLabel);
  Make(hwnd_, L"EDIT", "", vis | tab | ES_READONLY | ES_AUTOHSCROLL, 64, 8, 449, 21, kPathEdit,
       WS_EX_CLIENTEDGE);
  HWND frame = group(hwnd_, "", {8, 32, 537, 249}, kMainFrame);
  HWND releases = group(frame, "选择Delphi版本", {8, 8, 153, 233}, kReleaseGroup);
  // One button per release, spread evenly from the group's top.
  for (std::size_t i = 0; i < kReleaseCount; ++i) {
    const int top = 24 + static_cast<int>((i * 88 + 1) / 3);
    HWND rb = Make(releases, L"BUTTON", kIdeProfiles[i].caption, vis | tab | BS_RADIOBUTTON, 24, top,
                   113, 17, ReleaseButton(i));
    EnableWindow(rb, FALSE);
  }
  HWND packages = group(frame, "组件包", {168, 8, 241, 233}, kPackageGroup);
  HWND list = Make(packages, WC_LISTVIEWW, "",
                   vis | tab | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SHOWSELALWAYS | LVS_SINGLESEL,
                   8, 24, 225, 169, kBuildList, WS_EX_CLIENTEDGE);
  ListView_SetExtendedListViewStyle(
      list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP | LVS_EX_INFOTIP);
  // The package, then its state (status: waiting, compiling, done, ...);
  // a name or state too long for its column shows whole in a tip.
  RECT lr;
  GetClientRect(list, &lr);
  std::wstring titles[2] = {Widen("组件包"), Widen("状态")};
  const int widths[2] = {lr.right - GetSystemMetrics(SM_CXVSCROLL) - S(kStatusWidth), S(kStatusWidth)};
  for (int i = 0; i < 2; ++i) {
    LVCOLUMNW col{};
    col.mask = LVCF_WIDTH | LVCF_TEXT;
    col.cx = widths[i];
    col.pszText = titles[i].data();
    ListView_InsertColumn(list, i, &col);
  }
  // Enter on a row reaches the list, not the dialog keys.
  SetWindowSubclass(list, ListProc, 1, reinterpret_cast<DWORD_PTR>(this));
  Make(packages, L"BUTTON", "全选(&A)", button, 38, 200, 75, 25, kSelectAllButton);
  Make(packages, L"BUTTON", "反选(&U)", button, 117, 200, 75, 25, kClearAllButton);
  HWND command_group = group(frame, "命令", {416, 8, 113, 233}, kCommandGroup);
  for (const CommandSpec& spec : kCommands) {
    EnableWindow(Make(command_group, L"BUTTON", spec.caption, button, 8, spec.top, 97,
                      kCommandButtonHeight, spec.button),
                 FALSE);
    // The stop button stands where compile stands, shown while a compile runs.
    if (spec.id == CommandId::Compile)
      Make(command_group, L"BUTTON", "中止(&T)", tab | BS_PUSHBUTTON, 8, spec.top, 97,
           kCommandButtonHeight, kStopButton);
  }
  Make(command_group, L"BUTTON", "是否删除BPL包", vis | tab | BS_AUTOCHECKBOX, 8, 200, 97, 17, kDeleteBplCheck);
  EnableWindow(Control(kDeleteBplCheck), FALSE);
  // In the room left below: the command group ends at 233.
  Make(command_group, L"BUTTON", "并行编译(&B)", vis | tab | BS_AUTOCHECKBOX, 8, 217, 97, 13, kParallelCheck);
  Make(frame, L"STATIC", "", SS_OWNERDRAW | WS_BORDER, 170, 215, 237, 21, kProgressGauge);

  HWND pages = Make(hwnd_, WC_TABCONTROLW, "", vis | tab | TCS_MULTILINE | WS_CLIPCHILDREN, 8, 288,
                    452, 161, kPanes, WS_EX_CONTROLPARENT);
  const char* tabs[2] = {"命令输出", "日志"};
  for (int i = 0; i < 2; ++i) {
    std::wstring t = Widen(tabs[i]);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = t.data();
    TabCtrl_InsertItem(pages, i, &item);
  }
  RECT page;
  GetClientRect(pages, &page);
  TabCtrl_AdjustRect(pages, FALSE, &page);
  const int px = MulDiv(page.left, 96, dpi_), py = MulDiv(page.top, 96, dpi_);
  HWND commands = Make(pages, L"EDIT", "",
                    vis | tab | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL | WS_HSCROLL,
                    px + 8, py + 8, 425, 125, kCommandPane, WS_EX_CLIENTEDGE);
  // The log is a view of its own: a long log costs it little for each
  // addition, where a text control's cost grows with what it holds.
  HWND log = log_view_.Create(pages, ctl::kLogPane, WS_TABSTOP, WS_EX_CLIENTEDGE, S(px + 8), S(py + 8), S(425),
                              S(121));
  SendMessageW(log, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  controls_[ctl::kLogPane] = log;
  SendMessageW(commands, EM_SETLIMITTEXT, 0, 0);

  HWND link = Make(hwnd_, L"STATIC", "DEV论坛", vis | SS_NOTIFY, 482, 288, 43, 13, kForumLink);
  SendMessageW(link, WM_SETFONT, reinterpret_cast<WPARAM>(link_font_.Get()), FALSE);
  Make(hwnd_, L"BUTTON", "清除命令(&C)", button, 471, 312, 73, 25, kClearCommandsButton);
  Make(hwnd_, L"BUTTON", "清除日志(&L)", button, 472, 336, 73, 25, kClearLogButton);
  Make(hwnd_, L"BUTTON", "复制命令(&P)", button, 472, 360, 73, 25, kCopyCommandsButton);
  Make(hwnd_, L"BUTTON", "运行CMD(&M)", button, 472, 384, 73, 25, kRunCmdButton);
  Make(hwnd_, L"BUTTON", "退出(&X)", button, 472, 424, 73, 33, kExitButton);
  // The folder button takes no keyboard focus; it comes last so that it
  // stays out of the way of the tab order.
  Make(hwnd_, L"BUTTON", "...", vis | BS_PUSHBUTTON, 520, 8, 23, 22, kChooseFolderButton);

  HWND status = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBar)),
                                GetModuleHandleW(nullptr), nullptr);
  SendMessageW(status, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  controls_[kStatusBar] = status;
  int parts[3] = {S(150), S(400), -1};
  SendMessageW(status, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(parts));
  const char* panels[3] = {"Kestrin 组件包编译安装工具", "如果在使用中有什么问题,请与我联系!", "v1.0"};
  for (int i = 0; i < 3; ++i)
    SendMessageW(status, SB_SETTEXTW, i, reinterpret_cast<LPARAM>(Widen(panels[i]).c_str()));

  tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
  SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, S(400));
  AddHint(kChooseFolderButton, "选择DEV的安装目录");
  for (const CommandSpec& spec : kCommands)
    if (!spec.hint.empty()) AddHint(spec.button, spec.hint);

  FixedList start = BuildOrder(IdeFamily::Delphi);
  LoadBuildList(std::vector<std::string>(start.begin(), start.end()));
}

void MainWindow::ShowPage(int page) {
  TabCtrl_SetCurSel(Control(ctl::kPanes), page);
  ShowWindow(Control(ctl::kCommandPane), page == 0 ? SW_SHOW : SW_HIDE);
  ShowWindow(Control(ctl::kLogPane), page == 1 ? SW_SHOW : SW_HIDE);
}

LRESULT CALLBACK MainWindow::GroupProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l, UINT_PTR,
                                       DWORD_PTR ref) {
  // The controls inside the group boxes report to the window.
  switch (msg) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageW(reinterpret_cast<MainWindow*>(ref)->hwnd_, msg, w, l);
    case WM_ERASEBKGND:
    case WM_PRINTCLIENT: {
      // A group box that holds controls paints its own face.
      RECT r;
      GetClientRect(hwnd, &r);
      FillRect(reinterpret_cast<HDC>(w), &r, GetSysColorBrush(COLOR_BTNFACE));
      if (msg == WM_PRINTCLIENT) return DefSubclassProc(hwnd, msg, w, l);
      return TRUE;
    }
    default:
      return DefSubclassProc(hwnd, msg, w, l);
  }
}

LRESULT CALLBACK MainWindow::ListProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
  if (msg == WM_GETDLGCODE && l) {
    const MSG* m = reinterpret_cast<const MSG*>(l);
    if (m->message == WM_KEYDOWN && m->wParam == VK_RETURN) return DLGC_WANTALLKEYS;
  }
  return DefSubclassProc(hwnd, msg, w, l);
}

void MainWindow::Dispatch(int id) { app_->OnCommand(id); }

LRESULT MainWindow::OnListNotify(NMHDR* n) {
  switch (n->code) {
    case LVN_ITEMCHANGED: {
      // A tick set or cleared, by the user or by App: the model follows.
      auto* item = reinterpret_cast<NMLISTVIEW*>(n);
      if ((item->uChanged & LVIF_STATE) && (item->uNewState & LVIS_STATEIMAGEMASK) && item->iItem >= 0 &&
          !loading_list_)
        app_->OnTicked(static_cast<std::size_t>(item->iItem),
                       (item->uNewState & LVIS_STATEIMAGEMASK) == INDEXTOSTATEIMAGEMASK(2));
      return 0;
    }
    case LVN_ITEMACTIVATE: {  // a double click, or Enter
      const int row = reinterpret_cast<NMITEMACTIVATE*>(n)->iItem;
      if (row >= 0) app_->OnRowActivated(static_cast<std::size_t>(row));
      return 0;
    }
    case NM_CUSTOMDRAW: {
      // Rows that compiled green, rows that failed red.
      auto* cd = reinterpret_cast<NMLVCUSTOMDRAW*>(n);
      if (cd->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
      if (cd->nmcd.dwDrawStage != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
      const std::size_t row = cd->nmcd.dwItemSpec;
      const RowLook look = row < looks_.size() ? looks_[row] : RowLook::Plain;
      if (look == RowLook::Plain) return CDRF_DODEFAULT;
      cd->clrText = look == RowLook::Good ? RGB(0, 128, 0) : RGB(204, 0, 0);
      return CDRF_NEWFONT;
    }
    default: return 0;
  }
}

LRESULT MainWindow::Handle(UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_COMMAND: {
      const int id = LOWORD(w), code = HIWORD(w);
      if (l == 0) {  // menu
        if (code == 0) Dispatch(id);
        return 0;
      }
      if (id == ctl::kForumLink) {
        if (code == STN_CLICKED) Dispatch(id);
        return 0;
      }
      if (code == BN_CLICKED && id != ctl::kDeleteBplCheck && id != ctl::kParallelCheck) Dispatch(id);
      return 0;
    }
    case WM_NOTIFY: {
      auto* n = reinterpret_cast<NMHDR*>(l);
      if (n->idFrom == ctl::kPanes && n->code == TCN_SELCHANGE)
        ShowPage(TabCtrl_GetCurSel(n->hwndFrom));
      if (n->idFrom == ctl::kBuildList) return OnListNotify(n);
      return 0;
    }
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(w) == Control(ctl::kForumLink)) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        if (!link_red_) {  // turns red on the first pass and stays red
          link_red_ = true;
          InvalidateRect(Control(ctl::kForumLink), nullptr, TRUE);
        }
        return TRUE;
      }
      break;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(w);
      HWND c = reinterpret_cast<HWND>(l);
      if (c == Control(ctl::kPathEdit)) break;
      if (c == Control(ctl::kForumLink)) SetTextColor(dc, link_red_ ? RGB(255, 0, 0) : RGB(0, 0, 255));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DRAWITEM: {
      auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(l);
      if (d->CtlID == ctl::kProgressGauge) {
        DrawGauge(*d);
        return TRUE;
      }
      break;
    }
    case WM_CONTEXTMENU:
      if ((reinterpret_cast<HWND>(w) == Control(ctl::kPanes) || reinterpret_cast<HWND>(w) == Control(ctl::kLogPane)) &&
          TabCtrl_GetCurSel(Control(ctl::kPanes)) == 1) {
        UniqueMenu menu(CreatePopupMenu());
        AppendMenuW(menu.Get(), MF_STRING, ctl::kSaveLogMenu, Widen("保存日志文件(&S)...").c_str());
        POINT pt{GET_X_LPARAM(l), GET_Y_LPARAM(l)};
        if (pt.x == -1 && pt.y == -1) GetCursorPos(&pt);
        TrackPopupMenu(menu.Get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON, pt.x, pt.y, 0, hwnd_, nullptr);
        return 0;
      }
      break;
    case kEventsMessage:
      app_->HandleEvents();
      return 0;
    case WM_TIMER:
      if (w != kFlushTimer) break;
      KillTimer(hwnd_, kFlushTimer);
      [[fallthrough]];
    case kFlushMessage:
      flush_posted_ = false;
      FlushSlice();
      ScheduleFlush();
      return 0;
    case WM_CLOSE:
      app_->OnExitRequest();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, w, l);
}

void MainWindow::DrawGauge(const DRAWITEMSTRUCT& d) {
  RECT r = d.rcItem;
  const int percent = gauge_max_ > 0 ? MulDiv(gauge_pos_, 100, gauge_max_) : 0;
  RECT bar = r;
  bar.right = r.left + MulDiv(r.right - r.left, percent, 100);
  FillRect(d.hDC, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  FillRect(d.hDC, &bar, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  wchar_t text[16];
  swprintf(text, 16, L"%d%%", percent);
  SetBkMode(d.hDC, TRANSPARENT);
  HGDIOBJ old = SelectObject(d.hDC, font_.Get());
  // The text reads white over the bar and black beside it.
  RECT rest = r;
  rest.left = bar.right;
  for (int pass = 0; pass < 2; ++pass) {
    const RECT& clip = pass == 0 ? bar : rest;
    UniqueRegion rgn(CreateRectRgnIndirect(&clip));
    SelectClipRgn(d.hDC, rgn.Get());
    SetTextColor(d.hDC, pass == 0 ? RGB(255, 255, 255) : RGB(0, 0, 0));
    RECT tr = r;
    DrawTextW(d.hDC, text, -1, &tr, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectClipRgn(d.hDC, nullptr);
  }
  SelectObject(d.hDC, old);
}

// View ----------------------------------------------------------------------

void MainWindow::AppendToEdit(HWND edit, const std::wstring& text) {
  // Drawn once, after the addition: not line by line as it goes in.
  SendMessageW(edit, WM_SETREDRAW, FALSE, 0);
  const int len = GetWindowTextLengthW(edit);
  SendMessageW(edit, EM_SETSEL, len, len);
  SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageW(edit, WM_SETREDRAW, TRUE, 0);
  SendMessageW(edit, EM_SCROLLCARET, 0, 0);
  InvalidateRect(edit, nullptr, TRUE);
}

void MainWindow::AppendLog(std::string_view text) {
  pending_log_ += Widen(LogEntry(text));
  ScheduleFlush();
}

void MainWindow::ScheduleFlush() {
  if (flush_posted_ || pending_log_.empty()) return;
  if (HIWORD(GetQueueStatus(QS_INPUT)))
    flush_posted_ = SetTimer(hwnd_, kFlushTimer, USER_TIMER_MINIMUM, nullptr) != 0;
  else
    flush_posted_ = PostMessageW(hwnd_, kFlushMessage, 0, 0) != FALSE;
}

void MainWindow::FlushSlice() {
  if (pending_log_.empty() || !IsWindow(hwnd_)) return;
  // A slice ends at a line's end; what is taken is left behind an offset
  // and dropped once all of it is in.
  std::size_t end = pending_log_.size();
  if (end - pending_from_ > kSlice) {
    end = pending_log_.find(L"\r\n", pending_from_ + kSlice);
    end = end == std::wstring::npos ? pending_log_.size() : end + 2;
  }
  log_view_.Append(pending_log_.substr(pending_from_, end - pending_from_));
  pending_from_ = end;
  if (pending_from_ == pending_log_.size()) {
    pending_log_.clear();
    pending_from_ = 0;
  }
}

void MainWindow::FlushLog() {
  if (pending_log_.empty() || !IsWindow(hwnd_)) return;
  log_view_.Append(pending_log_.substr(pending_from_));
  pending_log_.clear();
  pending_from_ = 0;
}

void MainWindow::ClearLog() {
  pending_log_.clear();
  pending_from_ = 0;
  log_view_.Clear();
}

std::string MainWindow::LogText() {
  FlushLog();
  return Narrow(log_view_.Text());
}

void MainWindow::ShowLogPage() { ShowPage(1); }

void MainWindow::AppendCommandPane(std::string_view text) {
  AppendToEdit(Control(ctl::kCommandPane), Widen(LogEntry(text)));
}

void MainWindow::ClearCommandPane() { SetWindowTextW(Control(ctl::kCommandPane), L""); }

void MainWindow::CopyCommandPane() {
  HWND memo = Control(ctl::kCommandPane);
  SendMessageW(memo, EM_SETSEL, 0, -1);
  SendMessageW(memo, WM_COPY, 0, 0);
}

void MainWindow::SetEnabled(int id, bool enabled) {
  if (HWND c = Control(id)) EnableWindow(c, enabled);
}

void MainWindow::SetVisible(int id, bool visible) {
  if (HWND c = Control(id)) ShowWindow(c, visible ? SW_SHOWNA : SW_HIDE);
}

bool MainWindow::IsChecked(int id) {
  HWND c = Control(id);
  return c && SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::SetChecked(int id, bool on) {
  if (HWND c = Control(id)) SendMessageW(c, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow::SetRunningLook(bool running) {
  // The package group shrinks so that its select buttons drop out of view
  // and the gauge below takes their place.
  SetWindowPos(Control(ctl::kPackageGroup), nullptr, 0, 0, S(241), S(running ? 200 : 233),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(Control(ctl::kMainFrame), nullptr, TRUE);
  SetVisible(ctl::kProgressGauge, running);
  SetVisible(ctl::kCompileButton, !running);
  SetVisible(ctl::kStopButton, running);
}

void MainWindow::SetGauge(int position, int maximum) {
  gauge_pos_ = position;
  gauge_max_ = maximum;
  InvalidateRect(Control(ctl::kProgressGauge), nullptr, FALSE);
}

void MainWindow::SetCaption(std::string_view caption) {
  SetWindowTextW(hwnd_, Widen(caption).c_str());
}

void MainWindow::SetPathText(std::string_view text) {
  SetWindowTextW(Control(ctl::kPathEdit), Widen(text).c_str());
}

void MainWindow::LoadBuildList(const std::vector<std::string>& rows) {
  HWND list = Control(ctl::kBuildList);
  loading_list_ = true;  // the rows come from the model, unticked
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ListView_DeleteAllItems(list);
  looks_.assign(rows.size(), RowLook::Plain);
  ListView_SetItemCount(list, static_cast<int>(rows.size()));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::wstring t = Widen(rows[i]);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = t.data();
    ListView_InsertItem(list, &item);
    ListView_SetCheckState(list, static_cast<int>(i), FALSE);
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  loading_list_ = false;
}

void MainWindow::SetTicked(int index, bool ticked) {
  ListView_SetCheckState(Control(ctl::kBuildList), index, ticked ? TRUE : FALSE);
}

void MainWindow::SetStatus(int index, std::string_view text, RowLook look) {
  HWND list = Control(ctl::kBuildList);
  if (index < 0 || index >= ListView_GetItemCount(list)) return;
  std::wstring t = Widen(text);
  ListView_SetItemText(list, index, 1, t.data());
  const std::size_t row = static_cast<std::size_t>(index);
  if (row >= looks_.size()) looks_.resize(row + 1, RowLook::Plain);
  if (looks_[row] == look) return;
  looks_[row] = look;
  ListView_RedrawItems(list, index, index);
}

void MainWindow::RevealLogLine(std::string_view line) {
  FlushLog();
  const std::wstring& text = log_view_.Text();
  const std::wstring wanted = Widen(line);
  // The last line that reads `line` whole: the latest compile of the package.
  for (std::size_t at = text.rfind(wanted); at != std::wstring::npos;
       at = at == 0 ? std::wstring::npos : text.rfind(wanted, at - 1)) {
    const std::size_t end = at + wanted.size();
    const bool starts = at == 0 || text[at - 1] == L'\n';
    const bool ends = end == text.size() || text[end] == L'\r';
    if (!starts || !ends) continue;
    ShowPage(1);
    SetFocus(log_view_.hwnd());
    log_view_.Select(at, end);
    return;
  }
}

void MainWindow::WakeForEvents() { PostMessageW(hwnd_, kEventsMessage, 0, 0); }

void MainWindow::NoticeEnd() {
  if (GetForegroundWindow() == hwnd_) return;
  FLASHWINFO flash{sizeof flash, hwnd_, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
  FlashWindowEx(&flash);
  ++flashes_;
}

void MainWindow::SetTaskbarProgress(int done, int total, bool failed) {
  if (!taskbar_asked_) {
    taskbar_asked_ = true;
    if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                taskbar_.ReceiveVoid())) ||
        FAILED(taskbar_->HrInit()))
      taskbar_.Reset();
  }
  if (!taskbar_) return;
  if (total <= 0) {
    taskbar_took_ = SUCCEEDED(taskbar_->SetProgressState(hwnd_, TBPF_NOPROGRESS));
    return;
  }
  taskbar_took_ = SUCCEEDED(taskbar_->SetProgressState(hwnd_, failed ? TBPF_ERROR : TBPF_NORMAL)) &&
                  SUCCEEDED(taskbar_->SetProgressValue(hwnd_, static_cast<ULONGLONG>(done),
                                                       static_cast<ULONGLONG>(total)));
}

void MainWindow::ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) {
  FlushLog();
  MessageBoxW(hwnd_, Widen(text).c_str(), Widen(caption).c_str(),
              MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION));
}

bool MainWindow::AskYesNo(std::string_view text, std::string_view caption) {
  FlushLog();
  return MessageBoxW(hwnd_, Widen(text).c_str(), Widen(caption).c_str(),
                     MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

}  // namespace kestrin
