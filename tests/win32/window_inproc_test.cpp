// The window's panes, created in this process over the real controls.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <deque>

#include "app/app.h"
#include "app/controls.h"
#include "app/main_window_win32.h"
#include "platform/text.h"
#include "platform/win32_platform.h"
#include "tests/win32/driver.h"

namespace kt {
namespace {

struct StubShell : kestrin::Shell {
  std::optional<std::string> PickFolder(std::string_view) override { return std::nullopt; }
  std::optional<std::string> PickSaveFile(std::string_view, std::string_view) override {
    if (answers.empty()) return std::nullopt;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  void OpenUrl(std::string_view) override {}
  void StartCommandPrompt() override {}
  void AnnounceEnvironmentChange() override {}
  std::string RoamingAppDataFolder() override { return {}; }
  std::string WindowsFolder() override { return {}; }
  std::string MachinePath() override { return {}; }
  std::string ExpandEnvironment(std::string_view text) override { return std::string(text); }
  std::string LastError() override { return {}; }
  std::deque<std::optional<std::string>> answers;
};

// The clipboard's text, once another program's hold on the clipboard lets go.
bool ReadClipboard(std::string* clip) {
  return WaitUntil(
      [&] {
        if (!OpenClipboard(nullptr)) return false;
        HANDLE h = GetClipboardData(CF_UNICODETEXT);
        if (h) {
          *clip = U(static_cast<const wchar_t*>(GlobalLock(h)));
          GlobalUnlock(h);
        }
        CloseClipboard();
        return h != nullptr;
      },
      5000);
}

struct InProcess : ::testing::Test {
  kestrin::Win32Registry registry;
  kestrin::Win32FileSystem fs;
  kestrin::Win32ProcessLauncher processes;
  StubShell shell;
  kestrin::MainWindow window;
  kestrin::App app{kestrin::Platform{registry, fs, processes, shell}, window};
  void SetUp() override {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
    InitCommonControlsEx(&icc);
    ASSERT_TRUE(window.Create(app, GetModuleHandleW(nullptr)));
  }
  std::string EditText(int id) {
    HWND e = window.Control(id);
    std::wstring t(GetWindowTextLengthW(e) + 1, L'\0');
    t.resize(GetWindowTextW(e, t.data(), int(t.size())));
    return U(t);
  }
};

TEST_F(InProcess, LogHoldsTwoHundredThousandLines) {
  const int kLines = 200000;
  for (int i = 0; i < kLines; ++i) window.AppendLog("第" + std::to_string(i) + "行 line");
  window.FlushLog();
  const std::string text = EditText(kestrin::ctl::kLogPane);
  std::size_t pos = 0;
  int line = 0;
  bool in_order = true;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) break;
    in_order = in_order && text.compare(pos, end - pos, "第" + std::to_string(line) + "行 line") == 0;
    ++line;
    pos = end + 2;
  }
  EXPECT_EQ(line, kLines);
  EXPECT_TRUE(in_order);
  EXPECT_EQ(pos, text.size());
  EXPECT_EQ(window.LogText(), text);
  window.ClearLog();
  EXPECT_EQ(EditText(kestrin::ctl::kLogPane), "");
}

TEST_F(InProcess, CommandPaneCopiesToTheClipboardWithLineBreaks) {
  const std::string commands = "cd \"C:\\库 目录\"\r\ndir /s\r\n\r\necho 完成";
  SetWindowTextW(window.Control(kestrin::ctl::kCommandPane), W(commands).c_str());
  app.OnCommand(kestrin::ctl::kCopyCommandsButton);
  std::string clip;
  ASSERT_TRUE(ReadClipboard(&clip));
  EXPECT_EQ(clip, commands);
  DWORD start = 0, end = 0;
  SendMessageW(window.Control(kestrin::ctl::kCommandPane), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  EXPECT_EQ(end - start, W(commands).size());  // the selection stays
}

// The log pane reads and selects as a text control does: a package's
// compile brought into view is selected, and copying takes the selection.
TEST_F(InProcess, TheLogSelectsAndCopiesAsATextControlDoes) {
  for (const char* line : {"编译：dxCoreD7.dpk", "first run", "编译：dxCoreD7.dpk", "second run"})
    window.AppendLog(line);
  window.RevealLogLine("编译：dxCoreD7.dpk");
  HWND log = window.Control(kestrin::ctl::kLogPane);
  DWORD start = 0, end = 0;
  SendMessageW(log, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  const std::wstring text = W(EditText(kestrin::ctl::kLogPane));
  EXPECT_EQ(start, text.rfind(W("编译：dxCoreD7.dpk")));  // the latest one
  EXPECT_EQ(end - start, W("编译：dxCoreD7.dpk").size());
  SendMessageW(log, EM_SETSEL, 0, -1);
  SendMessageW(log, WM_COPY, 0, 0);
  std::string clip;
  ASSERT_TRUE(ReadClipboard(&clip));
  EXPECT_EQ(clip, "编译：dxCoreD7.dpk\r\nfirst run\r\n编译：dxCoreD7.dpk\r\nsecond run\r\n");

  // Made narrower and wider again, the pane keeps its place: the top, or the end.
  for (int i = 0; i < 300; ++i) window.AppendLog("line " + std::to_string(i) + " of a log long enough to wrap");
  window.FlushLog();
  RECT r{};
  GetWindowRect(log, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  const auto first_row = [&] { return SendMessageW(log, EM_GETFIRSTVISIBLELINE, 0, 0); };
  const LRESULT last = first_row();
  EXPECT_GT(last, 0);
  SetWindowPos(log, nullptr, 0, 0, 120, h, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_GT(first_row(), last);  // more rows; still at the end
  SetWindowPos(log, nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(first_row(), last);
  SendMessageW(log, WM_VSCROLL, SB_TOP, 0);
  SetWindowPos(log, nullptr, 0, 0, 120, h, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(first_row(), 0);
}

TEST_F(InProcess, SavedLogIsByteExactGbk) {
  const std::string folder = TestFolder() + "saved-logs\\";
  MakeDirs(folder);
  window.AppendLog("=================================================");
  window.AppendLog("编译组件...");
  window.AppendLog("包:dxCoreD7.dpk  未编译.\nline two");
  shell.answers = {folder + "build.txt", folder + "build", folder + "build.log"};
  for (int i = 0; i < 3; ++i) app.OnCommand(kestrin::ctl::kSaveLogMenu);
  const std::string expected =
      "=================================================\r\n\xB1\xE0\xD2\xEB\xD7\xE9\xBC\xFE...\r\n"
      "\xB0\xFC:dxCoreD7.dpk  \xCE\xB4\xB1\xE0\xD2\xEB.\r\nline two\r\n";
  for (const char* name : {"build.txt", "build.log.txt"}) {
    std::string bytes;
    ASSERT_TRUE(ReadFileUtf8(folder + name, &bytes)) << name;
    EXPECT_EQ(bytes, expected) << name;
  }
  EXPECT_FALSE(Exists(folder + "build.txt.txt"));
}

// While a compile runs, the stop button stands where the compile button was
// and the gauge where the select buttons were: the package group shrinks so
// that they drop out of its view. Afterwards all is back.
TEST_F(InProcess, GaugeAndRunningLook) {
  using namespace kestrin::ctl;
  auto rect = [&](int id) {
    RECT r;
    GetWindowRect(window.Control(id), &r);
    return r;
  };
  ShowWindow(window.hwnd(), SW_SHOWNA);
  window.SetRunningLook(true);
  window.SetGauge(7, 9);
  UpdateWindow(window.hwnd());
  EXPECT_TRUE(IsWindowVisible(window.Control(kStopButton)));
  EXPECT_FALSE(IsWindowVisible(window.Control(kCompileButton)));
  EXPECT_TRUE(IsWindowVisible(window.Control(kProgressGauge)));
  EXPECT_LE(rect(kPackageGroup).bottom, rect(kSelectAllButton).top);  // out of the group's view
  EXPECT_GE(rect(kProgressGauge).bottom, rect(kSelectAllButton).top);
  // 7 of 9 is 77%: a black bar over the left 77%, white after it.
  HWND gauge = window.Control(kProgressGauge);
  RedrawWindow(gauge, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  RECT g;
  GetClientRect(gauge, &g);
  HDC dc = GetDC(gauge);
  EXPECT_EQ(GetPixel(dc, g.right / 10, 2), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, g.right * 7 / 10, 2), RGB(0, 0, 0));
  EXPECT_EQ(GetPixel(dc, g.right * 85 / 100, 2), RGB(255, 255, 255));
  ReleaseDC(gauge, dc);
  window.SetRunningLook(false);
  EXPECT_TRUE(IsWindowVisible(window.Control(kCompileButton)));
  EXPECT_FALSE(IsWindowVisible(window.Control(kStopButton)));
  EXPECT_FALSE(IsWindowVisible(window.Control(kProgressGauge)));
  EXPECT_GE(rect(kPackageGroup).bottom, rect(kSelectAllButton).bottom);
}

// A long command's end asks for the user's eye only while another window is
// in front; the taskbar button takes a compile's progress where the shell
// has the interface.
TEST_F(InProcess, TheEndOfALongRunIsNoticedAndTheTaskbarShowsProgress) {
  ShowWindow(window.hwnd(), SW_SHOW);
  HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                               nullptr, GetModuleHandleW(nullptr), nullptr);
  SetForegroundWindow(other);
  ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == other; }, 5000));
  window.NoticeEnd();
  EXPECT_EQ(window.FlashesAsked(), 1);
  SetForegroundWindow(window.hwnd());
  ASSERT_TRUE(WaitUntil([&] { return GetForegroundWindow() == window.hwnd(); }, 5000));
  window.NoticeEnd();
  EXPECT_EQ(window.FlashesAsked(), 1);
  DestroyWindow(other);
  window.SetTaskbarProgress(2, 5, false);
  if (!window.TaskbarTookProgress()) GTEST_SKIP() << "this shell has no taskbar progress (ITaskbarList3)";
  window.SetTaskbarProgress(3, 5, true);
  EXPECT_TRUE(window.TaskbarTookProgress());
  window.SetTaskbarProgress(0, 0, false);
  EXPECT_TRUE(window.TaskbarTookProgress());
}

}  // namespace
}  // namespace kt
