// The real window, driven from outside through its controls.
#include <gtest/gtest.h>

#include "app/controls.h"
#include "tests/win32/scenario.h"

namespace kt {
namespace {
using namespace kestrin::ctl;

const std::string kLib = "C:\\kestrin-tests\\窗口 测试\\DevExpress VCL\\";

// Counts the controls whose caption has the accelerator &B and &D.
BOOL CALLBACK CountAccelerators(HWND control, LPARAM counts) {
  wchar_t text[256] = {};
  GetWindowTextW(control, text, 256);
  int* n = reinterpret_cast<int*>(counts);
  n[0] += wcsstr(text, L"&B") || wcsstr(text, L"&b");
  n[1] += wcsstr(text, L"&D") || wcsstr(text, L"&d");
  return TRUE;
}

struct Expect {
  int id;
  int x, y, w, h;
  const char* text;
};

TEST(Window, EveryControlInPlaceWithItsTextAndStartState) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  s.RegisterIde(4);
  // Delphi 8 left behind by an uninstalled IDE: its App file is gone.
  RegSetSz(BaseKey(2), "App", "C:\\nowhere\\bds.exe");
  RegSetSz(BaseKey(2), "RootDir", "C:\\nowhere");
  // BDS 2005 with a numeric App: not offered, and the probe goes on.
  RegSetDword(BaseKey(3), "App", 1);
  RegSetSz(BaseKey(3), "RootDir", "C:\\x");
  Program p(s.Exe(), s.library);
  ASSERT_TRUE(p.Started());
  EXPECT_EQ(p.Caption(), "Kestrin (支持38,40,41,42等版本的DEV组件)");
  RECT client;
  GetClientRect(p.Main(), &client);
  EXPECT_EQ(client.right, 552);
  EXPECT_EQ(client.bottom, 479);
  const Expect table[] = {
      {kPathLabel, 8, 10, 57, 13, "安装目录:"},
      {kChooseFolderButton, 520, 8, 23, 22, "..."},
      {kMainFrame, 8, 32, 537, 249, ""},
      {kReleaseGroup, 16, 40, 153, 233, "选择Delphi版本"},
      {ReleaseButton(0), 40, 64, 113, 17, "Delphi6"},
      {ReleaseButton(1), 40, 93, 113, 17, "Delphi7"},
      {ReleaseButton(2), 40, 123, 113, 17, "Delphi8"},
      {ReleaseButton(3), 40, 152, 113, 17, "BDS 2005"},
      {ReleaseButton(4), 40, 181, 113, 17, "BDS 2006"},
      {ReleaseButton(5), 40, 211, 113, 17, "RAD Studio 2007"},
      {ReleaseButton(6), 40, 240, 113, 17, "RAD Studio 2009"},
      {kPackageGroup, 176, 40, 241, 233, "组件包"},
      {kBuildList, 184, 64, 225, 169, nullptr},
      {kSelectAllButton, 214, 240, 75, 25, "全选(&A)"},
      {kClearAllButton, 293, 240, 75, 25, "反选(&U)"},
      {kCommandGroup, 424, 40, 113, 233, "命令"},
      {kCompileButton, 432, 54, 97, 28, "编译(&C)"},
      {kStopButton, 432, 54, 97, 28, "中止(&T)"},
      {kVerifyButton, 432, 84, 97, 28, "验证(&R)"},
      {kCopyButton, 432, 114, 97, 28, "复制(&P)"},
      {kInstallButton, 432, 144, 97, 28, "安装(&S)"},
      {kUninstallButton, 432, 174, 97, 28, "卸载(&U)"},
      {kDiagnoseButton, 432, 204, 97, 28, "诊断(&D)"},
      {kDeleteBplCheck, 432, 240, 97, 17, "是否删除BPL包"},
      {kParallelCheck, 432, 257, 97, 13, "并行编译(&B)"},
      {kProgressGauge, 178, 247, 237, 21, nullptr},
      {kPanes, 8, 288, 452, 161, nullptr},
      {kForumLink, 482, 288, 43, 13, "DEV论坛"},
      {kClearCommandsButton, 471, 312, 73, 25, "清除命令(&C)"},
      {kClearLogButton, 472, 336, 73, 25, "清除日志(&L)"},
      {kCopyCommandsButton, 472, 360, 73, 25, "复制命令(&P)"},
      {kRunCmdButton, 472, 384, 73, 25, "运行CMD(&M)"},
      {kExitButton, 472, 424, 73, 33, "退出(&X)"},
      {kPathEdit, 64, 8, 449, 21, nullptr},
  };
  for (const Expect& e : table) {
    SCOPED_TRACE(e.id);
    ASSERT_NE(p.Ctl(e.id), nullptr);
    RECT r = p.Place(e.id);
    EXPECT_EQ(r.left, e.x);
    EXPECT_EQ(r.top, e.y);
    EXPECT_EQ(r.right - r.left, e.w);
    EXPECT_EQ(r.bottom - r.top, e.h);
    if (e.text) {
      EXPECT_EQ(p.Text(e.id), e.text);
    }
  }
  // The two panes lie on the pages, 8 pixels in.
  RECT pages = p.Place(kPanes), commands = p.Place(kCommandPane), log = p.Place(kLogPane);
  EXPECT_EQ(commands.right - commands.left, 425);
  EXPECT_EQ(commands.bottom - commands.top, 125);
  EXPECT_EQ(log.right - log.left, 425);
  EXPECT_EQ(log.bottom - log.top, 121);
  EXPECT_GT(commands.top, pages.top + 8);
  EXPECT_EQ(commands.left, log.left);
  EXPECT_TRUE(p.Visible(kCommandPane));
  EXPECT_FALSE(p.Visible(kLogPane));

  EXPECT_EQ(p.Text(kPathEdit), s.library);  // from the program's own folder, no dialog
  for (int i = 0; i < 7; ++i) EXPECT_EQ(p.Enabled(ReleaseButton(0) + i), i == 1 || i == 4) << i;
  for (int i = 0; i < 7; ++i) EXPECT_FALSE(p.Checked(ReleaseButton(0) + i));
  for (int id : {kCompileButton, kVerifyButton, kCopyButton, kInstallButton, kUninstallButton, kDiagnoseButton,
                 kDeleteBplCheck})
    EXPECT_FALSE(p.Enabled(id)) << id;
  for (int id : {kChooseFolderButton, kSelectAllButton, kClearAllButton, kParallelCheck, kClearCommandsButton, kClearLogButton,
                 kCopyCommandsButton, kRunCmdButton, kExitButton})
    EXPECT_TRUE(p.Enabled(id)) << id;
  EXPECT_FALSE(p.Checked(kParallelCheck));
  // The parallel box's accelerator and the check's are their own.
  int with[2] = {0, 0};
  EnumChildWindows(p.Main(), CountAccelerators, reinterpret_cast<LPARAM>(with));
  EXPECT_EQ(with[0], 1);
  EXPECT_EQ(with[1], 1);
  EXPECT_TRUE(p.Visible(kCompileButton));
  EXPECT_FALSE(p.Visible(kStopButton));
  EXPECT_FALSE(p.Visible(kProgressGauge));
  EXPECT_EQ(p.StatusText(1), "如果在使用中有什么问题,请与我联系!");
  EXPECT_FALSE(p.StatusText(0).empty());
  // Tab order: the order of the children within each parent.
  auto order = [&](HWND parent) {
    std::vector<int> ids;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
      if (GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP || GetDlgCtrlID(c) == kMainFrame) ids.push_back(GetDlgCtrlID(c));
    return ids;
  };
  EXPECT_EQ(order(p.Main()), (std::vector<int>{kPathEdit, kMainFrame, kPanes, kClearCommandsButton, kClearLogButton,
                                               kCopyCommandsButton, kRunCmdButton, kExitButton}));
  EXPECT_EQ(order(p.Ctl(kReleaseGroup)), (std::vector<int>{ReleaseButton(0), ReleaseButton(1), ReleaseButton(2), ReleaseButton(3), ReleaseButton(4),
                                                        ReleaseButton(5), ReleaseButton(6)}));
  EXPECT_EQ(order(p.Ctl(kPackageGroup)), (std::vector<int>{kBuildList, kSelectAllButton, kClearAllButton}));
  EXPECT_EQ(order(p.Ctl(kCommandGroup)), (std::vector<int>{kCompileButton, kStopButton, kVerifyButton, kCopyButton, kInstallButton,
                                                        kUninstallButton, kDiagnoseButton, kDeleteBplCheck,
                                                        kParallelCheck}));
  EXPECT_EQ(p.ListCount(), 171);
  EXPECT_TRUE(p.Ticked().empty());
  EXPECT_EQ(p.ListText(0), "dxTheme");
  EXPECT_EQ(p.ListText(170), "dcldxSpellChecker");
  EXPECT_TRUE(p.Close(10000));
}

TEST(Window, SelectionAndTheChoiceOfARelease) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  s.RegisterIde(4);
  Program p(s.Exe(), s.library);
  ASSERT_TRUE(p.Started());
  ASSERT_TRUE(p.Click(kSelectAllButton));
  EXPECT_TRUE(WaitUntil([&] { return p.Ticked().size() == 171; }, 5000));
  ASSERT_TRUE(p.Click(kClearAllButton));
  EXPECT_TRUE(WaitUntil([&] { return p.Ticked().empty(); }, 5000));
  ASSERT_TRUE(p.Click(kClearAllButton));  // clears, never inverts
  Sleep(200);
  EXPECT_TRUE(p.Ticked().empty());

  ASSERT_TRUE(p.Click(ReleaseButton(1)));
  ASSERT_TRUE(WaitUntil([&] { return p.States() == "110011"; }, 5000));
  EXPECT_TRUE(p.Checked(ReleaseButton(1)));
  EXPECT_EQ(p.ListCount(), 171);
  EXPECT_TRUE(p.Enabled(kVerifyButton));
  EXPECT_TRUE(p.Enabled(kUninstallButton));
  EXPECT_TRUE(p.Enabled(kDeleteBplCheck));
  EXPECT_FALSE(p.Enabled(kCopyButton));
  EXPECT_FALSE(p.Enabled(kInstallButton));
  ASSERT_TRUE(p.Click(kSelectAllButton));
  ASSERT_TRUE(WaitUntil([&] { return p.Ticked().size() == 171; }, 5000));
  ASSERT_TRUE(p.Click(ReleaseButton(4)));
  ASSERT_TRUE(WaitUntil([&] { return p.ListCount() == 131; }, 5000));
  EXPECT_TRUE(p.Ticked().empty());
  EXPECT_EQ(p.ListText(3), "cxLibrary");
  EXPECT_TRUE(p.Checked(ReleaseButton(4)));
  EXPECT_FALSE(p.Checked(ReleaseButton(1)));
  // A disabled release cannot be chosen, whatever reaches its button.
  PostMessageW(p.Ctl(ReleaseButton(0)), BM_CLICK, 0, 0);
  Sleep(300);
  EXPECT_EQ(p.ListCount(), 131);
  EXPECT_FALSE(p.Checked(ReleaseButton(0)));
  ASSERT_TRUE(p.Click(kExitButton));
  EXPECT_TRUE(p.WaitExit(10000));
}

TEST(Window, FolderPickerAtStartAndARefusedFolder) {
  Scenario s(kLib, {"D7"});
  const std::string elsewhere = "C:\\kestrin-tests\\elsewhere\\";
  MakeDirs(elsewhere + "bin");
  CopyFileUtf8(s.Exe(), elsewhere + "bin\\kestrin.exe");
  Program p(elsewhere + "bin\\kestrin.exe", elsewhere, false);
  // The picker opens before the main window is shown.
  auto picker_shown = [&](HWND* picker) {
    return WaitUntil(
        [&] {
          *picker = p.WaitDialog("请选择DEV的安装目录", 0);
          return *picker != nullptr;
        },
        20000);
  };
  HWND picker = nullptr;
  ASSERT_TRUE(picker_shown(&picker));
  HWND name = GetDlgItem(picker, 1152);
  ASSERT_NE(name, nullptr);
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(W(s.library).c_str()));
  PostMessageW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(p.FindMain(20000));
  EXPECT_TRUE(WaitUntil([&] { return p.Text(kPathEdit) == s.library; }, 10000)) << p.Text(kPathEdit);

  // "..." with a folder that holds no marker: the notice, the folder stays.
  ASSERT_TRUE(p.Click(kChooseFolderButton));
  ASSERT_TRUE(picker_shown(&picker));
  SendMessageW(GetDlgItem(picker, 1152), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(W(elsewhere).c_str()));
  PostMessageW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0);
  HWND box = p.WaitDialog("提示", 20000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(p.DialogText(box), "您选择的不是DEV的安装目录");
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));
  EXPECT_EQ(p.Text(kPathEdit), s.library);
  // Cancelled: nothing changes either.
  ASSERT_TRUE(p.Click(kChooseFolderButton));
  ASSERT_TRUE(picker_shown(&picker));
  PostMessageW(GetDlgItem(picker, IDCANCEL), BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(picker); }, 5000));
  EXPECT_EQ(p.Text(kPathEdit), s.library);
  EXPECT_TRUE(p.Close(10000));
}

// Counts the pixels of the forum link that are mostly red and mostly blue.
static std::pair<int, int> LinkColours(HWND label) {
  RECT r;
  GetWindowRect(label, &r);
  HDC screen = GetDC(nullptr);
  int red = 0, blue = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      COLORREF c = GetPixel(screen, x, y);
      int R = GetRValue(c), G = GetGValue(c), B = GetBValue(c);
      if (R > 150 && G < 100 && B < 100) ++red;
      if (B > 150 && R < 100 && G < 100) ++blue;
    }
  ReleaseDC(nullptr, screen);
  return {red, blue};
}

TEST(Window, ForumLinkTurnsRedOnceTheMousePassesAndStaysRed) {
  Scenario s(kLib, {"D7"});
  Program p(s.Exe(), s.library);
  ASSERT_TRUE(p.Started());
  HWND label = p.Ctl(kForumLink);
  RECT r;
  GetWindowRect(label, &r);
  SetCursorPos(r.left - 60, r.top + 60);  // away from the link
  Sleep(300);
  auto before = LinkColours(label);
  EXPECT_GT(before.second, 5);  // blue text
  EXPECT_EQ(before.first, 0);
  SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  ASSERT_TRUE(WaitUntil([&] { return LinkColours(label).first > 5; }, 5000));
  SetCursorPos(r.left - 60, r.top + 60);
  Sleep(300);
  auto after = LinkColours(label);
  EXPECT_GT(after.first, 5);  // still red
  EXPECT_EQ(after.second, 0);
  EXPECT_TRUE(p.Close(10000));
}

TEST(Window, SaveLogThroughTheRealDialog) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  Program p(s.Exe(), s.library);
  ASSERT_TRUE(p.Started());
  ASSERT_TRUE(p.Click(ReleaseButton(1)));
  ASSERT_TRUE(WaitUntil([&] { return p.States() == "110011"; }, 5000));
  ASSERT_TRUE(p.Click(kVerifyButton));  // verification writes a block with Chinese text
  ASSERT_TRUE(p.WaitIdle(60000));
  const std::string folder = "C:\\kestrin-tests\\保存 日志\\";
  RemoveTree(folder.substr(0, folder.size() - 1));
  MakeDirs(folder);
  PostMessageW(p.Main(), WM_COMMAND, kSaveLogMenu, 0);  // the log page's menu entry
  HWND dialog = nullptr;
  ASSERT_TRUE(WaitUntil(
      [&] {
        dialog = p.WaitDialog("", 0);
        return dialog && (GetDlgItem(dialog, 1152) || GetDlgItem(dialog, 1148));
      },
      20000));
  // The file name box: an edit (1152) or a combo box (1148), by system.
  HWND name = GetDlgItem(dialog, 1152) ? GetDlgItem(dialog, 1152) : GetDlgItem(dialog, 1148);
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(W(folder + "build.txt").c_str()));
  PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  std::string bytes;
  ASSERT_TRUE(WaitUntil([&] { return ReadFileUtf8(folder + "build.txt", &bytes) && !bytes.empty(); }, 20000));
  EXPECT_FALSE(Exists(folder + "build.txt.txt"));
  // GBK, CR LF, the whole log.
  EXPECT_EQ(bytes.rfind("=================================================\r\n\xD1\xE9\xD6\xA4\xD7\xE9\xBC\xFE...\r\n", 0), 0u);
  EXPECT_EQ(bytes.substr(bytes.size() - 4), "==\r\n");
  EXPECT_TRUE(p.Close(10000));
}

}  // namespace
}  // namespace kt
