// Faults and bad input through the real window: each case ends with the
// window alive, a clear line in the log or a message box, and nothing that
// the tool did not write changed.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <algorithm>
#include <functional>

#include "app/controls.h"
#include "tests/win32/scenario.h"

namespace kt {
namespace {
using namespace kestrin::ctl;

const std::string kLib = "C:\\kestrin-tests\\故障 测试\\DevExpress VCL\\";


// Sets an environment switch of the stand-in compiler for one program run.
struct Env {
  Env(const wchar_t* name, const wchar_t* value) : name_(name) { SetEnvironmentVariableW(name, value); }
  ~Env() { SetEnvironmentVariableW(name_, nullptr); }
  const wchar_t* name_;
};

struct Faults : ::testing::Test {
  std::unique_ptr<Scenario> s;
  std::unique_ptr<Program> p;
  void Start(int ide = 1, const std::string& lib = kLib) {
    s = std::make_unique<Scenario>(lib, std::vector<std::string>{"D7"});
    s->RegisterIde(ide);
  }
  void Launch(int release = ReleaseButton(1)) {
    p = std::make_unique<Program>(s->Exe(), s->library);
    ASSERT_TRUE(p->Started());
    ASSERT_TRUE(p->Click(release));
    ASSERT_TRUE(WaitUntil([&] { return p->States() == "110011"; }, 5000));
  }
  void Tick(int count) {
    ASSERT_TRUE(p->Click(kSelectAllButton));
    ASSERT_TRUE(WaitUntil([&] { return p->Ticked().size() == 171; }, 5000));
    if (count < 171) {
      // Keep only the first `count` ticks by a verification over an output
      // folder that holds everything else.
      MakeDirs(s->Output("Delphi7"));
      for (int i = count; i < 171; ++i) {
        const std::string module = p->ListText(i) + "D7.bpl";
        WriteFileUtf8(s->Output("Delphi7") + "\\" + module, PackageBytes(module));
      }
      ASSERT_TRUE(p->Click(kVerifyButton));
      ASSERT_TRUE(p->WaitIdle(60000));
      ASSERT_EQ(p->Ticked().size(), std::size_t(count));
    }
  }
  // Runs the verification and waits until every command is live again.
  void VerifyAll() {
    ASSERT_TRUE(p->Click(kVerifyButton));
    ASSERT_TRUE(p->WaitIdle(60000));
    ASSERT_TRUE(WaitUntil([&] { return p->States() == "111111"; }, 5000));
  }
  std::vector<std::string> Compile(int timeout_ms = 120000) {
    const std::size_t before = p->LogLines().size();
    EXPECT_TRUE(p->Click(kCompileButton));
    EXPECT_TRUE(WaitUntil([&] { return p->LogLines().size() > before; }, 10000));
    EXPECT_TRUE(p->WaitIdle(timeout_ms));
    auto all = p->LogLines();
    return std::vector<std::string>(all.begin() + std::min(before, all.size()), all.end());
  }
  void TearDown() override {
    if (p && p->Main() && !p->WaitExit(0)) {
      EXPECT_TRUE(p->Responsive(2000)) << "the window must stay alive";
    }
    if (p) p->Close(10000);
  }
};

// A release whose compiler is gone (a stale RootDir): a message names the
// path, and nothing is started or logged.
TEST_F(Faults, CompilerMissing) {
  Start();
  const std::string compiler = s->ide_root + "Delphi7\\bin\\dcc32.exe";
  DeleteFileW(W(compiler).c_str());
  Launch();
  Tick(3);
  const auto before = p->LogLines();
  ASSERT_TRUE(p->Click(kCompileButton));
  HWND box = p->WaitDialog("Kestrin", 10000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(p->DialogText(box), "找不到编译器: " + compiler);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return p->Enabled(kCompileButton); }, 5000));
  EXPECT_EQ(p->LogLines(), before);
  EXPECT_EQ(CountProcesses(L"dcc32.exe"), 0);
}

TEST_F(Faults, CompilerCrashingPrintingJunkAndTenMegabytes) {
  Start();
  Env crash(L"KESTRIN_DCC_CRASH", L"dxGDIPlusD7");
  Env junk(L"KESTRIN_DCC_JUNK", L"dxThemeD7");
  Env big(L"KESTRIN_DCC_OUTPUT_BYTES", L"10000000");
  Launch();
  Tick(3);
  auto log = Compile(300000);
  EXPECT_EQ(CountPrefix(log, "编译："), 3);
  EXPECT_TRUE(Contains(log, "zero bytes follow:  ab "));
  EXPECT_TRUE(Contains(log, "invalid GBK"));
  EXPECT_GT(p->Text(kLogPane).size(), 10000000u);  // the 10 MB of messages, all kept
  EXPECT_FALSE(Exists(s->Output("Delphi7") + "\\dxGDIPlusD7.bpl"));
  // The summary and the verification name the crashed package, and why.
  const std::string why = "编译器退出码 3, 没有报告错误";  // abort()'s exit code
  EXPECT_TRUE(Has(log, "失败: dxGDIPlusD7.dpk — " + why));
  ASSERT_TRUE(p->Click(kVerifyButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  const auto verified = p->LogLines();  // the last verification's report comes last
  const auto reported = std::find(verified.rbegin(), verified.rend(), "包:dxGDIPlusD7.dpk  未编译.");
  ASSERT_NE(reported, verified.rend());
  ASSERT_NE(reported, verified.rbegin());
  EXPECT_EQ(*(reported - 1), "    原因: " + why);
}

// The compiler is stuck mid-write, with a process of its own started: the
// close ends both (one job), and the cut-short package files are removed.
TEST_F(Faults, HangingCompilerThenStopThenClose) {
  Start();
  ASSERT_EQ(CountProcesses(L"dcc32.exe"), 0);
  Env hang(L"KESTRIN_DCC_STALL", L"*");
  Launch();
  Tick(2);
  ASSERT_TRUE(p->Click(kCompileButton));
  ASSERT_TRUE(WaitUntil([&] { return p->Visible(kStopButton); }, 10000));
  ASSERT_TRUE(WaitUntil([&] { return CountPrefix(p->LogLines(), "编译：") == 1; }, 10000));
  EXPECT_TRUE(p->Responsive(1000));
  ASSERT_TRUE(p->Click(kStopButton));
  ASSERT_TRUE(WaitUntil([&] { return Contains(p->LogLines(), "编译中止"); }, 3000));
  // The window closes although the compiler never ends: it is ended for us.
  EXPECT_TRUE(WaitUntil([&] { return Exists(s->Output("Delphi7") + "\\dxThemeD7.bpl"); }, 5000));
  PostMessageW(p->Main(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(p->WaitExit(15000));
  EXPECT_FALSE(Exists(s->Output("Delphi7") + "\\dxThemeD7.bpl"));
  EXPECT_FALSE(Exists(s->Output("Delphi7") + "\\dxThemeD7.dcp"));
  EXPECT_TRUE(WaitUntil([] { return CountProcesses(L"dcc32.exe") == 0; }, 5000));
}

// A tool that dies takes its compiler, and what that started, with it.
TEST_F(Faults, KilledToolLeavesNoCompilerRunning) {
  Start();
  Env hang(L"KESTRIN_DCC_STALL", L"*");
  Launch();
  Tick(1);
  ASSERT_TRUE(p->Click(kCompileButton));
  ASSERT_TRUE(WaitUntil([] { return CountProcesses(L"dcc32.exe") == 2; }, 10000));
  TerminateProcess(p->Process(), 1);
  EXPECT_TRUE(p->WaitExit(5000));
  EXPECT_TRUE(WaitUntil([] { return CountProcesses(L"dcc32.exe") == 0; }, 5000));
}

// Links in the library: a folder link that leads back up the tree ends the
// searches, and the uninstall's overwrite never writes through a hard link.
TEST_F(Faults, LinksAndLoopsInTheLibrary) {
  Start();
  const std::string outside = "C:\\kestrin-tests\\precious.bin";
  WriteFileUtf8(outside, "precious, not the library's");
  const std::string loop = s->library + "ExpressBars 6\\Sources\\0up";
  ASSERT_TRUE(RunUnix("/bin/ln", {"-s", UnixPath(s->library.substr(0, s->library.size() - 1)), UnixPath(s->library + "ExpressBars 6\\Sources") + "/0up"}));
  ASSERT_TRUE(WaitUntil([&] {
    const DWORD a = GetFileAttributesW(W(loop).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
  }, 5000));
  Launch();
  Tick(3);
  auto log = Compile();
  EXPECT_EQ(CountPrefix(log, "编译："), 3);
  EXPECT_FALSE(Contains(log, "fatal"));
  EXPECT_FALSE(Contains(log, "0up"));
  const std::string out = s->Output("Delphi7");
  DeleteFileW(W(out + "\\cxDataD7.bpl").c_str());
  ASSERT_TRUE(CreateHardLinkW(W(out + "\\cxDataD7.BPL").c_str(), W(outside).c_str(), nullptr));
  ASSERT_TRUE(p->Click(kDeleteBplCheck));
  ASSERT_TRUE(WaitUntil([&] { return p->Checked(kDeleteBplCheck); }, 5000));
  ASSERT_TRUE(p->Click(kUninstallButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  EXPECT_TRUE(Contains(p->LogLines(), "删除：" + out + "\\cxDataD7.BPL 成功."));
  EXPECT_FALSE(Exists(out + "\\cxDataD7.BPL"));
  std::string kept;
  ASSERT_TRUE(ReadFileUtf8(outside, &kept));
  EXPECT_EQ(kept, "precious, not the library's");
  DeleteFileW(W(outside).c_str());
  RunUnix("/bin/rm", {"-f", UnixPath(s->library + "ExpressBars 6\\Sources") + "/0up"});
  EXPECT_TRUE(WaitUntil([&] { return GetFileAttributesW(W(loop).c_str()) == INVALID_FILE_ATTRIBUTES; }, 5000));
}

// The tool dies in the middle of a copy into the system folder: the earlier
// copy stays whole under the package's name.
TEST_F(Faults, CopyCutShortLeavesTheEarlierCopyWhole) {
  Start();
  Launch();
  const std::string out = s->Output("Delphi7"), sys = SystemFolder();
  MakeDirs(out);
  {
    HANDLE h = CreateFileW(W(out + "\\cxDataD7.bpl").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size;
    size.QuadPart = 512LL << 20;
    SetFilePointerEx(h, size, nullptr, FILE_BEGIN);
    SetEndOfFile(h);
    CloseHandle(h);
  }
  WriteFileUtf8(sys + "\\cxDataD7.bpl", "the earlier copy");
  VerifyAll();
  ASSERT_TRUE(p->Click(kCopyButton));
  WIN32_FILE_ATTRIBUTE_DATA a{};
  std::string temp;  // named after the program's process and copy
  bool seen = false;
  for (int i = 0; i < 20000 && !seen; ++i) {
    if (temp.empty()) for (const auto& f : FilesIn(sys, "cxDataD7.bpl.*.kestrin-tmp")) temp = sys + "\\" + f;
    seen = !temp.empty() && GetFileAttributesExW(W(temp).c_str(), GetFileExInfoStandard, &a) &&
           a.nFileSizeLow > (1u << 20);
    if (!seen) Sleep(1);
  }
  TerminateProcess(p->Process(), 1);
  EXPECT_TRUE(p->WaitExit(5000));
  EXPECT_TRUE(seen) << "the copy was not caught in progress";
  std::string kept;
  ASSERT_TRUE(ReadFileUtf8(sys + "\\cxDataD7.bpl", &kept));
  EXPECT_EQ(kept, "the earlier copy");
  DeleteFileW(W(temp).c_str());
  DeleteFileW(W(sys + "\\cxDataD7.bpl").c_str());
  DeleteFileW(W(out + "\\cxDataD7.bpl").c_str());
}

TEST_F(Faults, ExitDuringACompileEndsTheRunThenTheProgram) {
  Start();
  Env slow(L"KESTRIN_DCC_SLEEP_MS", L"1500");
  Launch();
  Tick(4);
  ASSERT_TRUE(p->Click(kCompileButton));
  ASSERT_TRUE(WaitUntil([&] { return CountPrefix(p->LogLines(), "编译：") == 1; }, 10000));
  ASSERT_TRUE(p->Click(kExitButton));
  EXPECT_TRUE(p->WaitExit(15000));
  // The package in progress was finished.
  EXPECT_TRUE(Exists(s->Output("Delphi7") + "\\dxThemeD7.bpl"));
  EXPECT_FALSE(Exists(s->Output("Delphi7") + "\\dxGDIPlusD7.bpl"));  // the next was not started
  EXPECT_FALSE(Exists(s->Output("Delphi7") + "\\dxCoreD7.bpl"));
}

TEST_F(Faults, MissingProjectAndUncreatableOutputFolder) {
  Start();
  DeleteFileW(W(s->library + "ExpressGDI+ Library\\Sources\\dxGDIPlusD7.dpk").c_str());
  Launch();
  Tick(2);
  auto log = Compile();
  EXPECT_TRUE(Contains(log, "Fatal: File not found: '"));
  EXPECT_TRUE(Has(log, "失败: dxGDIPlusD7.dpk — 库目录中找不到这个包工程"));
  // "Library" is a file: no output folder can be made, which a message says
  // before any compiler starts.
  p->Close(10000);
  RemoveTree(s->library + "Library");
  WriteFileUtf8(s->library + "Library", "a file in the way");
  Launch();
  ASSERT_TRUE(p->Click(kSelectAllButton));
  ASSERT_TRUE(WaitUntil([&] { return p->Ticked().size() == 171; }, 5000));
  const auto before = p->LogLines();
  ASSERT_TRUE(p->Click(kCompileButton));
  HWND box = p->WaitDialog("Kestrin", 10000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(p->DialogText(box).rfind("无法创建输出目录 " + s->library + "Library: ", 0), 0u) << p->DialogText(box);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return p->Enabled(kCompileButton); }, 5000));
  EXPECT_EQ(p->LogLines(), before);
  EXPECT_EQ(CountProcesses(L"dcc32.exe"), 0);
  std::string in_the_way;
  ReadFileUtf8(s->library + "Library", &in_the_way);
  EXPECT_EQ(in_the_way, "a file in the way");
  ASSERT_TRUE(p->Click(kVerifyButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  EXPECT_EQ(p->Ticked().size(), 171u);
}

TEST_F(Faults, RegistryKeysMissingOrOfTheWrongType) {
  Start();
  const std::string base = BaseKey(1);
  RegDeleteTreeUtf8(base + "\\Library");
  Launch();
  VerifyAll();
  ASSERT_TRUE(p->Click(kInstallButton));
  HWND box = p->WaitDialog("Kestrin", 10000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(p->DialogText(box), "Failed to set data for 'Search Path'");
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));
  HKEY probe;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, W(base + "\\Library").c_str(), 0, KEY_READ, &probe), ERROR_SUCCESS);

  RegSetDword(base + "\\Library", "Search Path", 7);
  ASSERT_TRUE(WaitUntil([&] { return p->Enabled(kInstallButton); }, 5000));
  ASSERT_TRUE(p->Click(kInstallButton));
  box = p->WaitDialog("Kestrin", 10000);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(p->DialogText(box), "Invalid data type for 'Search Path'");
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));
  DWORD type = 0;
  ASSERT_TRUE(RegRead(base + "\\Library", "Search Path", nullptr, &type));
  EXPECT_EQ(type, DWORD(REG_DWORD));  // untouched
}

TEST_F(Faults, SearchPathAlreadyHoldingOurFoldersInAnotherCase) {
  Start();
  const std::string base = BaseKey(1);
  std::string mine = "$(DELPHI)\\Lib";
  const char* products[] = {"ExpressBars 6", "ExpressCommon Library", "ExpressCore Library"};
  for (const char* prod : products) {
    std::string f = s->library + prod + "\\SOURCES\\";
    std::transform(f.begin(), f.end(), f.begin(), [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; });
    mine += ";" + f;
  }
  RegSetSz(base + "\\Library", "Search Path", mine);
  Launch();
  VerifyAll();
  ASSERT_TRUE(p->Click(kInstallButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  std::string after;
  ASSERT_TRUE(RegRead(base + "\\Library", "Search Path", &after));
  EXPECT_EQ(after.rfind(mine + ";", 0), 0u);  // the user's entries first, unchanged
  EXPECT_EQ(after.find(s->library + "ExpressBars 6\\Sources"), std::string::npos);
  EXPECT_NE(after.find(s->library + "ExpressDBTree Suite\\Sources"), std::string::npos);
}

TEST_F(Faults, ReadOnlyHiddenAndHeldPackageFiles) {
  Start();
  Launch();
  const std::string out = s->Output("Delphi7");
  MakeDirs(out);
  WriteFileUtf8(out + "\\dxThemeD7.bpl", std::string(500, 'a'));
  WriteFileUtf8(out + "\\dxGDIPlusD7.bpl", "b");
  WriteFileUtf8(out + "\\dxCoreD7.bpl", "c");
  WriteFileUtf8(out + "\\cxLibraryVCLD7.bpl", "d");
  SetFileAttributesW(W(out + "\\dxThemeD7.bpl").c_str(), FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(W(out + "\\dxGDIPlusD7.bpl").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
  HANDLE held = CreateFileW(W(out + "\\dxCoreD7.bpl").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(p->Click(kDeleteBplCheck));
  ASSERT_TRUE(WaitUntil([&] { return p->Checked(kDeleteBplCheck); }, 5000));
  ASSERT_TRUE(p->Click(kUninstallButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  CloseHandle(held);
  auto log = p->LogLines();
  EXPECT_TRUE(Contains(log, "删除：" + out + "\\dxThemeD7.BPL 成功."));
  EXPECT_TRUE(Contains(log, "删除：" + out + "\\dxGDIPlusD7.BPL 成功."));
  EXPECT_TRUE(Contains(log, "删除：" + out + "\\dxCoreD7.BPL 失败."));
  EXPECT_TRUE(Contains(log, "删除：" + out + "\\cxLibraryVCLD7.BPL 成功."));
  EXPECT_FALSE(Contains(log, "dclcxLibraryVCLD7.BPL"));  // missing files are skipped silently
  std::string kept;
  ASSERT_TRUE(ReadFileUtf8(out + "\\dxCoreD7.bpl", &kept));
  EXPECT_EQ(kept, "c");
  EXPECT_EQ(FilesIn(out, "*.bpl"), (std::vector<std::string>{"dxCoreD7.bpl"}));
}

// Wine run as root writes over read-only files, so a destination that cannot
// be written is one held open by another program without sharing.
TEST_F(Faults, SystemFolderFileThatCannotBeWritten) {
  Start();
  Launch();
  const std::string out = s->Output("Delphi7"), sys = SystemFolder();
  MakeDirs(out);
  for (const char* n : {"cxADOAdaptersD7.bpl", "cxBarEditItemD7.bpl", "cxBDEAdaptersD7.bpl"})
    WriteFileUtf8(out + "\\" + n, "new");
  WriteFileUtf8(sys + "\\cxBarEditItemD7.bpl", "old, in use");
  HANDLE held = CreateFileW(W(sys + "\\cxBarEditItemD7.bpl").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  VerifyAll();
  ASSERT_TRUE(p->Click(kCopyButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  CloseHandle(held);
  auto log = p->LogLines();
  EXPECT_TRUE(Has(log, "复制 cxADOAdaptersD7.bpl 到System32目录成功."));
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& l) {
    return l.rfind("复制 cxBarEditItemD7.bpl 到System32目录失败: ", 0) == 0 && l.size() > 50;
  }));
  EXPECT_TRUE(Has(log, "复制 cxBDEAdaptersD7.bpl 到System32目录成功."));
  std::string kept;
  ReadFileUtf8(sys + "\\cxBarEditItemD7.bpl", &kept);
  EXPECT_EQ(kept, "old, in use");
  EXPECT_TRUE(FilesIn(sys, "*.kestrin-tmp").empty());
  for (const auto& f : FilesIn(sys, "*D7.bpl")) DeleteFileW(W(sys + "\\" + f).c_str());
}

TEST_F(Faults, LibraryPathNearTheLimit) {
  std::string deep = "C:\\kestrin-tests\\long 路径";
  while (deep.size() < 170) deep += "\\folder with blanks";
  Start(1, deep + "\\DevExpress VCL\\");
  Launch();
  Tick(3);
  auto log = Compile();
  EXPECT_EQ(CountPrefix(log, "编译："), 3);
  EXPECT_FALSE(Contains(log, "fatal"));
  ASSERT_TRUE(p->Click(kVerifyButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  EXPECT_TRUE(p->Ticked().empty());
}

// Answers the program's "提示" question and waits until the box is gone.
void Answer(Program& p, int button, const std::string& expected_part) {
  HWND box = p.WaitDialog("提示", 10000);
  ASSERT_NE(box, nullptr);
  EXPECT_NE(p.DialogText(box).find(expected_part), std::string::npos) << p.DialogText(box);
  PostMessageW(box, WM_COMMAND, button, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }, 5000));
}

// The release's IDE is running: install asks first; No changes nothing,
// Yes installs.
TEST_F(Faults, InstallWhileTheIdeRuns) {
  Start();
  RunningIde ide(1);
  ASSERT_TRUE(ide.Started());
  Launch();
  VerifyAll();
  std::string before, after;
  ASSERT_TRUE(RegRead(BaseKey(1) + "\\Library", "Search Path", &before));
  const std::size_t lines = p->LogLines().size();
  ASSERT_TRUE(p->Click(kInstallButton));
  Answer(*p, IDNO, "Delphi7 正在运行");
  EXPECT_TRUE(p->Responsive(2000));
  EXPECT_EQ(p->LogLines().size(), lines);
  ASSERT_TRUE(RegRead(BaseKey(1) + "\\Library", "Search Path", &after));
  EXPECT_EQ(after, before);
  ASSERT_TRUE(p->Click(kInstallButton));
  Answer(*p, IDYES, "Delphi7 正在运行");
  ASSERT_TRUE(p->WaitIdle(60000));
  EXPECT_TRUE(Has(p->LogLines(), "安装到：Delphi7"));
  ASSERT_TRUE(RegRead(BaseKey(1) + "\\Library", "Search Path", &after));
  EXPECT_NE(after, before);
}

// The system folder takes no new file (made immutable on the Linux side,
// which even root cannot write into): the copy asks; No copies nothing, Yes
// puts the output folder on the user's PATH and records that it did, and the
// uninstall takes the entry and its record off.
TEST_F(Faults, CopyIntoASystemFolderThatRefusesWrites) {
  Start();
  Launch();
  const std::string out = s->Output("Delphi7"), sys = SystemFolder();
  MakeDirs(out);
  WriteFileUtf8(out + "\\cxDataD7.bpl", "new");
  VerifyAll();
  auto writable = [&] {
    static int n = 0;
    const std::wstring probe = W(sys + "\\kestrin-probe-" + std::to_string(++n) + ".tmp");
    HANDLE h = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    DeleteFileW(probe.c_str());
    return true;
  };
  struct Immutable {
    std::string folder;
    std::function<bool()> writable;
    ~Immutable() {
      RunUnix("/usr/bin/chattr", {"-i", folder});
      WaitUntil(writable, 5000);
    }
  } guard{UnixPath(sys), writable};
  DeleteFileW(W(sys + "\\cxDataD7.bpl").c_str());
  ASSERT_TRUE(RunUnix("/usr/bin/chattr", {"+i", guard.folder}));
  ASSERT_TRUE(WaitUntil([&] { return !writable(); }, 5000)) << "chattr +i did not take";
  // The user's PATH, expandable, with an entry of the user's.
  const std::string env = "Environment";
  std::string saved;
  DWORD saved_type = 0;
  const bool had_path = RegRead(env, "Path", &saved, &saved_type);
  const std::wstring mine = L"%SystemRoot%\\kestrin-user-entry";
  HKEY k;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Environment", 0, KEY_SET_VALUE, &k), ERROR_SUCCESS);
  RegSetValueExW(k, L"Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(mine.c_str()),
                 DWORD((mine.size() + 1) * 2));

  ASSERT_TRUE(p->Click(kCopyButton));
  Answer(*p, IDNO, "管理员权限");
  ASSERT_TRUE(p->WaitIdle(30000));
  auto log = p->LogLines();
  EXPECT_TRUE(Contains(log, "系统目录不可写 (需要管理员权限), 未复制任何运行时包: "));
  std::string path;
  DWORD type = 0;
  ASSERT_TRUE(RegRead(env, "Path", &path, &type));
  EXPECT_EQ(path, U(mine));

  ASSERT_TRUE(p->Click(kCopyButton));
  Answer(*p, IDYES, "管理员权限");
  ASSERT_TRUE(p->WaitIdle(30000));
  EXPECT_TRUE(Has(p->LogLines(), "已将输出目录加入当前用户的 PATH 环境变量: " + out));
  ASSERT_TRUE(RegRead(env, "Path", &path, &type));
  EXPECT_EQ(path, U(mine) + ";" + out);
  EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
  const std::string record = "Software\\Kestrin\\UserPath";
  EXPECT_TRUE(RegRead(record, out, nullptr));
  EXPECT_FALSE(Exists(sys + "\\cxDataD7.bpl"));
  EXPECT_EQ(p->States(), "111111");

  ASSERT_TRUE(p->Click(kUninstallButton));
  ASSERT_TRUE(p->WaitIdle(30000));
  EXPECT_TRUE(Has(p->LogLines(), "已从当前用户的 PATH 环境变量中删除输出目录: " + out));
  ASSERT_TRUE(RegRead(env, "Path", &path, &type));
  EXPECT_EQ(path, U(mine));
  EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
  EXPECT_FALSE(RegRead(record, out, nullptr));
  if (had_path) {
    std::wstring w = W(saved);
    RegSetValueExW(k, L"Path", 0, saved_type, reinterpret_cast<const BYTE*>(w.c_str()), DWORD((w.size() + 1) * 2));
  } else {
    RegDeleteValueW(k, L"Path");
  }
  RegCloseKey(k);
}

// The user's roaming application data folder, as the system tells it.
std::string RoamingAppData() {
  wchar_t* path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path))) folder = U(path);
  CoTaskMemFree(path);
  return folder;
}

// RAD Studio 2009: install and uninstall ask the IDE to rebuild its
// EnvOptions.proj, without ever creating the Globals key; the install also
// adds the library's folders to the file where it exists and is understood,
// and the uninstall leaves it as it is.
TEST_F(Faults, RadStudio2009ForcesTheEnvironmentFileUpdate) {
  Start(6);
  Launch(ReleaseButton(6));
  VerifyAll();
  const std::string globals = BaseKey(6) + "\\Globals";
  const std::string appdata = RoamingAppData();
  ASSERT_FALSE(appdata.empty());
  const std::string env = appdata + "\\CodeGear\\BDS\\6.0\\EnvOptions.proj";
  DeleteFileW(W(env).c_str());
  ASSERT_TRUE(p->Click(kInstallButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  EXPECT_TRUE(Contains(p->LogLines(), "未设置 ForceEnvOptionsUpdate: 注册表键 Software\\CodeGear\\BDS\\6.0\\Globals\\ 不存在"));
  EXPECT_TRUE(Has(p->LogLines(), "未更新 " + env + ": 文件不存在."));
  EXPECT_FALSE(Exists(env));
  HKEY k;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, W(globals).c_str(), 0, KEY_READ, &k), ERROR_SUCCESS);
  // What the install added to the search path goes into the file as well.
  std::string search_path;
  ASSERT_TRUE(RegRead(BaseKey(6) + "\\Library", "Search Path", &search_path));
  const std::string ours = search_path.substr(std::string("$(DELPHI)\\Lib;$(DELPHI)\\Bin;").size());
  ASSERT_TRUE(MakeDirs(appdata + "\\CodeGear\\BDS\\6.0"));
  const std::string broken = "<Project>\r\n  <PropertyGroup>\r\n    <Win32LibraryPath>$(BDS)\\lib</Win32LibraryPath>\r\n</Project>\r\n";
  ASSERT_TRUE(WriteFileUtf8(env, broken));
  RegCreate(globals);
  ASSERT_TRUE(p->Click(kInstallButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  std::string v;
  DWORD type = 0;
  ASSERT_TRUE(RegRead(globals, "ForceEnvOptionsUpdate", &v, &type));
  EXPECT_EQ(v, "1");
  EXPECT_EQ(type, DWORD(REG_SZ));
  EXPECT_TRUE(Has(p->LogLines(), "已设置 Software\\CodeGear\\BDS\\6.0\\Globals\\ForceEnvOptionsUpdate = 1, RAD Studio 2009 下次启动时将据此更新 EnvOptions.proj."));
  EXPECT_TRUE(Has(p->LogLines(), "未更新 " + env + ": 无法识别文件内容 (结束标签 </Project> 与 <PropertyGroup> 不配对)."));
  ASSERT_TRUE(ReadFileUtf8(env, &v));
  EXPECT_EQ(v, broken);
  // The property there, in UTF-8 with a byte-order mark, one of our folders in it.
  const std::string head = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Project xmlns=\"http://schemas.microsoft.com/developer/msbuild/2003\">\r\n"
                           "  <PropertyGroup>\r\n    <Win32LibraryPath>$(BDS)\\lib;";
  const std::string tail = "</Win32LibraryPath>\r\n  </PropertyGroup>\r\n</Project>\r\n";
  ASSERT_TRUE(WriteFileUtf8(env, head + ours.substr(0, ours.find(';')) + tail));
  ASSERT_TRUE(p->Click(kInstallButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  EXPECT_TRUE(Has(p->LogLines(), "已更新 " + env + ": Win32LibraryPath 中添加了 " + ours.substr(ours.find(';') + 1) + "."));
  ASSERT_TRUE(ReadFileUtf8(env, &v));
  EXPECT_EQ(v, head + ours + tail);
  // The property missing, in UTF-16LE.
  auto utf16 = [](const std::string& text) {
    const std::wstring w = W(text);
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2);
  };
  const std::string group = "<Project>\r\n  <PropertyGroup>\r\n    <BrowsingPath>$(BDS)\\source</BrowsingPath>";
  const std::string end = "\r\n  </PropertyGroup>\r\n</Project>\r\n";
  ASSERT_TRUE(WriteFileUtf8(env, utf16(group + end)));
  ASSERT_TRUE(p->Click(kInstallButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  EXPECT_TRUE(Has(p->LogLines(), "已更新 " + env + ": 添加了 Win32LibraryPath = " + ours + "."));
  ASSERT_TRUE(ReadFileUtf8(env, &v));
  EXPECT_EQ(v, utf16(group + "\r\n    <Win32LibraryPath>" + ours + "</Win32LibraryPath>" + end));
  EXPECT_TRUE(FilesIn(appdata + "\\CodeGear\\BDS\\6.0", "*.kestrin-tmp").empty());
  RegSetSz(globals, "ForceEnvOptionsUpdate", "0");
  ASSERT_TRUE(p->Click(kUninstallButton));
  ASSERT_TRUE(p->WaitIdle(60000));
  ASSERT_TRUE(RegRead(globals, "ForceEnvOptionsUpdate", &v));
  EXPECT_EQ(v, "1");
  std::string after;
  ASSERT_TRUE(ReadFileUtf8(env, &after));
  EXPECT_EQ(after, utf16(group + "\r\n    <Win32LibraryPath>" + ours + "</Win32LibraryPath>" + end));
  DeleteFileW(W(env).c_str());
}

}  // namespace
}  // namespace kt
