// Runs without the window, started as a script starts them: through cmd.exe,
// with standard output and error captured through pipes and the exit code
// read at the end; then the registry and the files are checked.
#include <gtest/gtest.h>

#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>

#include "tests/win32/scenario.h"

namespace kt {
namespace {

const std::string kLib = "C:\\kestrin-tests\\无人值守 测试\\DevExpress VCL\\";

struct Env {
  Env(const wchar_t* name, const wchar_t* value) : name_(name) { SetEnvironmentVariableW(name, value); }
  ~Env() { SetEnvironmentVariableW(name_, nullptr); }
  const wchar_t* name_;
};

std::string Kestrin(const Scenario& s) { return "\"" + s.library + "kestrin.com\""; }

// Compile, verify, copy and install of Delphi 7 from a script: exit 0, every
// line on standard output and in the UTF-8 log file, and what the window's
// run leaves in the registry and the folders.
TEST(Unattended, FullRunAsAScriptStartsIt) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  const std::string out = s.Output("Delphi7"), sys = SystemFolder();
  for (const auto& f : FilesIn(sys, "*D7.bpl")) DeleteFileW(W(sys + "\\" + f).c_str());
  const std::string log = s.library + "运行.log";
  WriteFileUtf8(log, "an old log that is replaced");
  Script r = RunScript(Kestrin(s) + " /release:Delphi7 /COMPILE -verify /install /copy /parallel /log:\"" +
                       log + "\"");
  EXPECT_EQ(r.code, 0u) << r.Digest();
  const auto lines = r.OutLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "全部完成: 编译, 验证, 复制, 安装");
  EXPECT_EQ(CountPrefix(lines, "编译结果: 共 171 个包, 成功 171 个, 失败 0 个, 未编译 0 个; 用时 "), 1);
  EXPECT_TRUE(Has(lines, "安装到：Delphi7"));
  EXPECT_EQ(r.err, "");
  std::string written;
  ASSERT_TRUE(ReadFileUtf8(log, &written));
  EXPECT_EQ(written, "\xEF\xBB\xBF" + r.out);  // UTF-8 with its mark, the same lines
  // As after the window's run: 171 packages, 65 runtime packages in the
  // system folder, the folders on the search path, 100 design packages known.
  EXPECT_EQ(FilesIn(out, "*.bpl").size(), 171u);
  EXPECT_EQ(FilesIn(sys, "*D7.bpl").size(), 65u);
  std::string search_path;
  ASSERT_TRUE(RegRead(BaseKey(1) + "\\Library", "Search Path", &search_path));
  EXPECT_NE(search_path.find(";" + s.library + "XP Theme Manager\\Sources"), std::string::npos);
  const auto known = RegValueNames(BaseKey(1) + "\\Known Packages");
  EXPECT_EQ(known.size(), 100u);
  EXPECT_EQ(std::count_if(known.begin(), known.end(),
                          [&](const std::string& k) { return k.rfind(out + "\\dcl", 0) == 0; }),
            std::count_if(known.begin(), known.end(), [](const std::string& k) { return k.find("\\dcl") != std::string::npos; }));
  for (const auto& f : FilesIn(sys, "*D7.bpl")) DeleteFileW(W(sys + "\\" + f).c_str());
}

// /diagnose: warnings and hints alone end with 0; one error planted (a
// registered package whose file is gone) ends with 1 and the count.
TEST(Unattended, DiagnoseEndsWithOneOnlyForAnError) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  RegSetSz(BaseKey(1) + "\\Disabled Packages", s.Output("Delphi7") + "\\dclcxLibraryVCLD7.bpl", "off");
  Script sound = RunScript(Kestrin(s) + " /release:Delphi7 /diagnose");
  EXPECT_EQ(sound.code, 0u) << sound.Digest();
  auto lines = sound.OutLines();
  EXPECT_EQ(CountPrefix(lines, "错误: "), 0) << sound.out;
  EXPECT_TRUE(Has(lines, "警告: IDE 已停用这个包: " + s.Output("Delphi7") + "\\dclcxLibraryVCLD7.bpl")) << sound.out;
  EXPECT_EQ(CountPrefix(lines, "诊断结果: 0 个错误, 1 个警告, "), 1) << sound.out;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "全部完成: 诊断");

  RegSetSz(BaseKey(1) + "\\Known Packages", "C:\\gone\\dclGoneD7.bpl", "gone");
  Script planted = RunScript(Kestrin(s) + " /release:Delphi7 /diagnose");
  EXPECT_EQ(planted.code, 1u) << planted.Digest();
  lines = planted.OutLines();
  EXPECT_TRUE(Has(lines, "错误: 已注册的设计时包不存在: C:\\gone\\dclGoneD7.bpl")) << planted.out;
  EXPECT_EQ(CountPrefix(lines, "诊断结果: 1 个错误, 1 个警告, "), 1) << planted.out;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "未完成: 诊断 — 1 个错误");
}

TEST(Unattended, AFailingPackageEndsWithOne) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  Env fail(L"KESTRIN_DCC_FAIL", L"dxGDIPlusD7");
  Script r = RunScript(Kestrin(s) + " /release:\"Delphi7\" /packages:dxTheme,DXGDIPLUS /compile /verify");
  EXPECT_EQ(r.code, 1u) << r.Digest();
  const auto lines = r.OutLines();
  EXPECT_TRUE(Has(lines, "失败: dxGDIPlusD7.dpk — dxGDIPlusReg.pas(7) Error: Undeclared identifier: 'KestrinFailure'"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "未完成: 编译 — 1 个包没有编译成功 (共 2 个)");
  EXPECT_FALSE(Contains(lines, "验证组件..."));  // the run stops at the step that did not complete
}

// The IDE's designide.dcp is gone: the design package is named before any
// compiler starts and not compiled, the run says why and ends with 1.
TEST(Unattended, APackageWhoseRequiredDcpIsNowhereIsNotStarted) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  ASSERT_TRUE(DeleteFileW(W(s.ide_root + "Delphi7\\lib\\designide.dcp").c_str()));
  Script r = RunScript(Kestrin(s) + " /release:Delphi7 /packages:dxTheme,dxGDIPlus,dxCore,cxLibraryVCL,dclcxLibraryVCL /compile");
  EXPECT_EQ(r.code, 1u) << r.Digest();
  const auto lines = r.OutLines();
  EXPECT_TRUE(Has(lines, "无法编译 dclcxLibraryVCLD7.dpk: 找不到它需要的 designide.dcp")) << r.Digest();
  EXPECT_EQ(CountPrefix(lines, "编译："), 4);
  EXPECT_TRUE(Has(lines, "未编译: dclcxLibraryVCLD7.dpk — 需要 designide.dcp"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "未完成: 编译 — 1 个包没有编译成功 (共 5 个)");
}

TEST(Unattended, ARunningIdeIsAnsweredNoUnlessYes) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  RunningIde ide(1);
  ASSERT_TRUE(ide.Started());
  std::string before, after;
  ASSERT_TRUE(RegRead(BaseKey(1) + "\\Library", "Search Path", &before));
  Script no = RunScript(Kestrin(s) + " /release:Delphi7 /install");
  EXPECT_EQ(no.code, 4u) << no.Digest();
  ASSERT_FALSE(no.ErrLines().empty());
  EXPECT_EQ(no.ErrLines()[0].rfind("提示: Delphi7 正在运行。", 0), 0u) << no.err;
  EXPECT_NE(no.err.find("→ 回答: 否 (没有 /yes)"), std::string::npos);
  ASSERT_FALSE(no.OutLines().empty());
  EXPECT_EQ(no.OutLines().back().rfind("已停止: 安装 — ", 0), 0u);
  ASSERT_TRUE(RegRead(BaseKey(1) + "\\Library", "Search Path", &after));
  EXPECT_EQ(after, before);
  Script yes = RunScript(Kestrin(s) + " /release:Delphi7 /install /yes");
  EXPECT_EQ(yes.code, 0u) << yes.Digest();
  EXPECT_NE(yes.err.find("→ 回答: 是 (/yes)"), std::string::npos);
  ASSERT_TRUE(RegRead(BaseKey(1) + "\\Library", "Search Path", &after));
  EXPECT_NE(after, before);
}

TEST(Unattended, BadArgumentsEndWithTwoAndTheUsage) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  for (const char* args : {"/release:Delphi7 /frobnicate", "/release:Delphi7 /deletebpl /compile", "/compile"}) {
    Script r = RunScript(Kestrin(s) + " " + args);
    EXPECT_EQ(r.code, 2u) << args;
    EXPECT_EQ(r.out, "") << args;
    // The error and one line on where the usage is: nothing pushes it out of sight.
    ASSERT_EQ(r.ErrLines().size(), 2u) << r.err;
    EXPECT_EQ(r.ErrLines()[0].rfind("参数错误: ", 0), 0u) << r.err;
    EXPECT_EQ(r.ErrLines()[1], "输入 kestrin.com /? 查看用法");
  }
  Script unusable = RunScript(Kestrin(s) + " /release:RAD2009 /compile");
  EXPECT_EQ(unusable.code, 3u);
}

// RAD Studio 2009 built by msbuild reads the library path from the user's
// EnvOptions.proj: the install from a script merges the folders into it.
TEST(Unattended, RadStudio2009EnvironmentFileFromAScript) {
  Scenario s(kLib, {"D12"});
  s.RegisterIde(6);
  wchar_t* appdata = nullptr;
  ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &appdata), S_OK);
  const std::string folder = U(appdata) + "\\CodeGear\\BDS\\6.0";
  CoTaskMemFree(appdata);
  MakeDirs(folder);
  const std::string file = folder + "\\EnvOptions.proj";
  WriteFileUtf8(file,
                "<Project xmlns=\"http://schemas.microsoft.com/developer/msbuild/2003\">\r\n"
                "  <PropertyGroup>\r\n    <Win32LibraryPath>$(BDS)\\lib</Win32LibraryPath>\r\n"
                "  </PropertyGroup>\r\n</Project>\r\n");
  Script r = RunScript(Kestrin(s) + " /release:RAD2009 /install");
  EXPECT_EQ(r.code, 0u) << r.Digest();
  std::string merged;
  ASSERT_TRUE(ReadFileUtf8(file, &merged));
  EXPECT_NE(merged.find("<Win32LibraryPath>$(BDS)\\lib;"), std::string::npos) << merged;
  EXPECT_NE(merged.find(s.library + "XP Theme Manager\\Sources</Win32LibraryPath>"), std::string::npos) << merged;
  DeleteFileW(W(file).c_str());
}

// Processor time of another process: the sum over its threads (under Wine
// GetProcessTimes of another process reads about 0), in 100 ns units.
ULONGLONG ThreadTimes(DWORD pid) {
  ULONGLONG total = 0;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return 0;
  THREADENTRY32 e{};
  e.dwSize = sizeof e;
  for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e)) {
    if (e.th32OwnerProcessID != pid) continue;
    HANDLE t = OpenThread(THREAD_QUERY_INFORMATION, FALSE, e.th32ThreadID);
    if (!t) continue;
    FILETIME created, ended, kernel, user;
    if (GetThreadTimes(t, &created, &ended, &kernel, &user))
      total += (ULONGLONG(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
               (ULONGLONG(user.dwHighDateTime) << 32 | user.dwLowDateTime);
    CloseHandle(t);
  }
  CloseHandle(snap);
  return total;
}

// Whether a thread message could be posted to one of the process's threads:
// only a thread that has a message queue (it waited on one) takes it.
bool PostToAThreadOf(DWORD pid) {
  bool posted = false;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return false;
  THREADENTRY32 e{};
  e.dwSize = sizeof e;
  for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e))
    if (e.th32OwnerProcessID == pid && PostThreadMessageW(e.th32ThreadID, WM_APP + 7, 0, 0)) posted = true;
  CloseHandle(snap);
  return posted;
}

bool RunsCompiler(DWORD pid) {
  bool found = false;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  for (BOOL ok = Process32FirstW(snap, &e); ok && !found; ok = Process32NextW(snap, &e))
    found = e.th32ParentProcessID == pid && lstrcmpiW(e.szExeFile, L"dcc32.exe") == 0;
  CloseHandle(snap);
  return found;
}

// A message queued for the run's thread is taken out: the wait for a slow
// compiler sleeps instead of returning at once, over and over.
TEST(Unattended, AQueuedMessageDoesNotMakeTheWaitSpin) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  Env slow(L"KESTRIN_DCC_SLEEP_MS", L"8000");
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                           OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(nul, INVALID_HANDLE_VALUE);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = si.hStdOutput = si.hStdError = nul;
  const std::string log = s.library + "spin.log";
  std::wstring line = W(Kestrin(s) + " /release:Delphi7 /packages:dxTheme /compile /log:\"" + log + "\"");
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                             nullptr, &si, &pi));
  CloseHandle(nul);
  // The compiler runs, and the run's thread, waiting for it, has a queue.
  EXPECT_TRUE(WaitUntil([&] { return RunsCompiler(pi.dwProcessId); }, 30000));
  EXPECT_TRUE(WaitUntil([&] { return PostToAThreadOf(pi.dwProcessId); }, 5000));
  Sleep(300);
  const ULONGLONG busy_before = ThreadTimes(pi.dwProcessId), wall_before = GetTickCount64();
  Sleep(2000);
  const ULONGLONG busy = ThreadTimes(pi.dwProcessId) - busy_before;
  const ULONGLONG wall = GetTickCount64() - wall_before;
  // Spinning shows as about a third of a processor under Wine (its server
  // takes the rest); waiting, as next to nothing.
  EXPECT_LT(busy / 10000.0, wall * 0.10) << busy / 10000 << " ms busy in " << wall << " ms";
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  std::string written;
  ReadFileUtf8(log, &written);
  EXPECT_EQ(code, 0u) << written;
  if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

// The two scripts of the README, run as they are written.
TEST(Unattended, TheReadmeExamples) {
  Scenario s("C:\\DevExpress VCL\\", {"D12"});
  s.RegisterIde(6);
  const std::string sys = SystemFolder();
  for (const char* name : {"install-build-machine.bat", "uninstall.bat"})
    ASSERT_TRUE(CopyFileUtf8(TestFolder() + "examples\\" + name, s.library + name)) << name;
  std::string user_path;
  const bool had_user_path = RegRead("Environment", "Path", &user_path);
  Script install = RunScript(s.library + "install-build-machine.bat");
  EXPECT_EQ(install.code, 0u) << install.Digest();
  EXPECT_TRUE(Has(install.OutLines(), "DevExpress VCL is installed into RAD Studio 2009."));
  EXPECT_EQ(FilesIn(s.Output("Delphi12"), "*.bpl").size(), 131u);
  EXPECT_EQ(FilesIn(sys, "*D12.bpl").size(), 49u);
  EXPECT_EQ(RegValueNames(BaseKey(6) + "\\Known Packages").size(), 80u);
  // The check that ends the script finds every design package loadable.
  EXPECT_EQ(CountPrefix(install.OutLines(), "诊断结果: 0 个错误, "), 1) << install.Digest();
  Script uninstall = RunScript(s.library + "uninstall.bat");
  EXPECT_EQ(uninstall.code, 0u) << uninstall.Digest();
  if (had_user_path) RegSetSz("Environment", "Path", user_path);
  else RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Environment", L"Path");
  EXPECT_TRUE(RegValueNames(BaseKey(6) + "\\Known Packages").empty());
  EXPECT_TRUE(FilesIn(sys, "*D12.bpl").empty());
  EXPECT_TRUE(FilesIn(s.Output("Delphi12"), "*.bpl").empty());
}

// The demo's flow as a script, for Delphi 7: its package lists compile
// runtime packages (cxWebSnap, ...) that they neither copy nor register,
// though design packages need them. The install puts the output folder on
// the user's PATH for them, the check finds nothing the IDE cannot load, and
// the uninstall takes the entry out again.
TEST(Unattended, TheDemosFlowLeavesNothingTheIdeCannotLoad) {
  Scenario s("C:\\Kestrin Demo\\DevExpress VCL\\", {"D7"});
  s.RegisterIde(1);
  std::string user_path;
  const bool had_user_path = RegRead("Environment", "Path", &user_path);
  RegSetSz("Environment", "Path", "C:\\kestrin-tests\\tools");
  ASSERT_TRUE(WriteFileUtf8(s.library + "flow.bat",
                            "@echo off\r\n\"%~dp0kestrin.com\" /library:\"%~dp0\" /release:Delphi7 /compile /verify "
                            "/copy /install /diagnose /parallel /yes\r\nexit /b %errorlevel%\r\n"));
  Script r = RunScript(s.library + "flow.bat");
  EXPECT_EQ(r.code, 0u) << r.Digest();
  EXPECT_TRUE(Has(r.OutLines(), "已将输出目录加入当前用户的 PATH 环境变量: " + s.Output("Delphi7") +
                                    " (dclcxWebSnapD7.bpl 需要 cxWebSnapD7.bpl)"))
      << r.Digest();
  EXPECT_EQ(CountPrefix(r.OutLines(), "诊断结果: 0 个错误, "), 1) << r.Digest();
  std::string path;
  ASSERT_TRUE(RegRead("Environment", "Path", &path));
  EXPECT_EQ(path, "C:\\kestrin-tests\\tools;" + s.Output("Delphi7"));
  Script u = RunScript("\"" + s.library + "kestrin.com\" /release:Delphi7 /uninstall /yes");
  EXPECT_EQ(u.code, 0u) << u.Digest();
  ASSERT_TRUE(RegRead("Environment", "Path", &path));
  EXPECT_EQ(path, "C:\\kestrin-tests\\tools");
  if (had_user_path) RegSetSz("Environment", "Path", user_path);
  else RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Environment", L"Path");
}

}  // namespace
}  // namespace kt
