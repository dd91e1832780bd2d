#include "app/unattended.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "app/panes.h"
#include "compile/compile.h"
#include "compile/verify.h"
#include "ide/deploy.h"
#include "ide/install.h"
#include "ide/uninstall.h"
#include "platform/text.h"
#include "targets/library_folder.h"
#include "targets/releases.h"

namespace kestrin {
namespace {

// How long a compiler may go on after Ctrl+C before it is ended.
constexpr std::uint64_t kInterruptGraceMs = 3000;

std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      if (!out.empty() && out.back() != ' ') out += ' ';
      continue;
    }
    out += c;
  }
  return Trim(out);
}

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(Trim(text.substr(start, end == std::string_view::npos ? end : end - start)));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

const IdeProfile* ReleaseNamed(std::string_view name) {
  for (const IdeProfile& ide : kIdeProfiles)
    if (EqualsNoCase(name, ide.name) || EqualsNoCase(name, ide.caption)) return &ide;
  return nullptr;
}

// No dialog ever opens in a run without the window.
class NoDialogShell : public Shell {
 public:
  explicit NoDialogShell(Shell& inner) : inner_(inner) {}
  std::optional<std::string> PickFolder(std::string_view) override { return std::nullopt; }
  std::optional<std::string> PickSaveFile(std::string_view, std::string_view) override {
    return std::nullopt;
  }
  void OpenUrl(std::string_view) override {}
  void StartCommandPrompt() override {}
  void AnnounceEnvironmentChange() override { inner_.AnnounceEnvironmentChange(); }
  std::string RoamingAppDataFolder() override { return inner_.RoamingAppDataFolder(); }
  std::string LastError() override { return inner_.LastError(); }

 private:
  Shell& inner_;
};

// The window as a run without it has one: the log goes to standard output
// (and the log file), message boxes to standard error, questions are
// answered by /yes, and the build list lives in memory.
class ConsoleView : public View {
 public:
  ConsoleView(Console& console, bool yes) : console_(console), yes_(yes) {}

  void AppendLog(std::string_view text) override {
    const std::string entry = LogEntry(text);
    log_ += entry;
    for (std::size_t start = 0; start < entry.size();) {
      const std::size_t end = entry.find("\r\n", start);
      Line(std::string_view(entry).substr(start, end - start));
      start = end + 2;
    }
  }
  void ClearLog() override { log_.clear(); }
  std::string LogText() override { return log_; }
  void ShowLogPage() override {}
  void RepaintLog() override {}
  void AppendCommandPane(std::string_view text) override { AppendLog(text); }
  void ClearCommandPane() override {}
  void CopyCommandPane() override {}
  void SetEnabled(int, bool) override {}
  void SetVisible(int, bool) override {}
  bool IsChecked(int) override { return false; }
  void SetChecked(int, bool) override {}
  void SetRunningLook(bool) override {}
  void SetGauge(int, int) override {}
  void SetCaption(std::string_view) override {}
  std::string PathText() override { return path_; }
  void SetPathText(std::string_view text) override { path_ = text; }
  void LoadBuildList(const std::vector<std::string>& rows) override {
    rows_ = rows;
    ticks_.assign(rows.size(), false);
  }
  int BuildCount() override { return static_cast<int>(rows_.size()); }
  std::string BuildItem(int index) override { return rows_[static_cast<std::size_t>(index)]; }
  bool IsTicked(int index) override { return ticks_[static_cast<std::size_t>(index)]; }
  void SetTicked(int index, bool ticked) override { ticks_[static_cast<std::size_t>(index)] = ticked; }
  void PumpMessages() override {
    console_.HandleQueuedMessages();
    if (onPump) onPump();
  }
  void ShowMessage(std::string_view text, std::string_view, MessageIcon icon) override {
    lastMessage = OneLine(text);
    ErrorLine((icon == MessageIcon::Error ? "错误: " : "提示: ") + lastMessage);
  }
  bool AskYesNo(std::string_view text, std::string_view) override {
    ErrorLine("提示: " + OneLine(text) + (yes_ ? " → 回答: 是 (/yes)" : " → 回答: 否 (没有 /yes)"));
    answeredNo = answeredNo || !yes_;
    return yes_;
  }

  // A line of the run's own (not of a command's log) on standard output.
  void Line(std::string_view line) {
    console_.WriteOut(line);
    if (logFile) logFile->Write(std::string(line) + "\r\n");
  }
  void ErrorLine(std::string_view line) {
    console_.WriteErr(line);
    if (logFile) logFile->Write(std::string(line) + "\r\n");
  }
  int Ticked() const { return static_cast<int>(std::count(ticks_.begin(), ticks_.end(), true)); }

  std::unique_ptr<File> logFile;
  std::function<void()> onPump;
  std::string lastMessage;
  bool answeredNo = false;

 private:
  Console& console_;
  const bool yes_;
  std::string log_, path_;
  std::vector<std::string> rows_;
  std::vector<bool> ticks_;
};

// The releases registered for the current user, and whether each can be used.
void ListReleases(Session& s, ConsoleView& view) {
  for (const IdeProfile& ide : kIdeProfiles) {
    const auto why = WhyNotUsable(s, ide);
    std::string line = std::string(ide.name) + " (" + std::string(ide.caption) + "): ";
    view.Line(line + (why ? "不可用, " + *why : "可用"));
  }
}

struct StepOutcome {
  int code = kExitDone;
  std::string whyNot;  // for the last line, when the step did not complete
};

class UnattendedRun {
 public:
  UnattendedRun(Session& s, ConsoleView& view, Console& console, const UnattendedOptions& o,
                std::function<std::uint64_t()> clock)
      : s_(s), view_(view), console_(console), o_(o), clock_(std::move(clock)) {
    view_.onPump = [this] { CheckInterrupt(); };
    s_.endCompilerNow = [this] {
      return interrupted_at_ && clock_ && clock_() - *interrupted_at_ > kInterruptGraceMs;
    };
  }

  int Run();

 private:
  int Prepare();
  StepOutcome Step(const std::string& name);
  void CheckInterrupt();
  bool Stopped() const { return interrupted_at_.has_value(); }

  Session& s_;
  ConsoleView& view_;
  Console& console_;
  const UnattendedOptions& o_;
  std::function<std::uint64_t()> clock_;
  std::optional<std::uint64_t> interrupted_at_;
  bool compiling_ = false;
};

// Ctrl+C, Ctrl+Break or an output that is gone stop the run as the stop
// button stops a compile: no compiler starts any more, and one that runs is
// ended after the grace period.
void UnattendedRun::CheckInterrupt() {
  if (Stopped() || !(console_.Interrupted() || console_.Broken())) return;
  interrupted_at_ = clock_ ? clock_() : 0;
  if (compiling_) StopCompile(s_);
  s_.ctx.stopRequested = true;
}

int UnattendedRun::Prepare() {
  const std::string folder =
      NormalizeFolderPath(o_.library.empty() ? s_.fs.ExecutableFolder() : o_.library);
  if (folder.empty() || !s_.fs.DirExists(JoinPath(folder, kMarkerFolder))) {
    view_.ErrorLine("不是 DEV 的安装目录 (其中没有 " + std::string(kMarkerFolder) + " 文件夹): " +
                    (folder.empty() ? o_.library : folder));
    return kExitUnusable;
  }
  SetLibraryFolder(s_, folder);
  const IdeProfile& ide = *o_.release;
  if (auto why = WhyNotUsable(s_, ide)) {
    view_.ErrorLine("无法使用 " + std::string(ide.caption) + ": " + *why);
    return kExitUnusable;
  }
  try {
    ChooseRelease(s_, ide);
  } catch (const std::exception& e) {
    view_.ErrorLine("无法使用 " + std::string(ide.caption) + ": " + e.what());
    return kExitUnusable;
  }
  for (int i = 0, n = view_.BuildCount(); i < n; ++i) {
    const std::string row = Trim(view_.BuildItem(i));
    const bool wanted = o_.packages.empty() ||
                        std::any_of(o_.packages.begin(), o_.packages.end(),
                                    [&](const std::string& p) { return EqualsNoCase(p, row); });
    view_.SetTicked(i, wanted);
  }
  return kExitDone;
}

StepOutcome UnattendedRun::Step(const std::string& name) {
  view_.lastMessage.clear();
  view_.answeredNo = false;
  StepOutcome r;
  auto not_done = [&](int count, const std::string& what) {
    if (count > 0) r = {kExitIncomplete, std::to_string(count) + " " + what};
  };
  auto none = [&](StateEvent event) {
    if (event == StateEvent::None && r.code == kExitDone)
      r = {kExitIncomplete, view_.lastMessage.empty() ? "没有执行" : view_.lastMessage};
  };
  try {
    if (name == "编译") {
      CompileReport report;
      compiling_ = true;
      const StateEvent event = Compile(s_, {.parallel = o_.parallel}, &report);
      compiling_ = false;
      const int total = static_cast<int>(report.packages.size());
      not_done(total - report.Count(PackageOutcome::Compiled),
               "个包没有编译成功 (共 " + std::to_string(total) + " 个)");
      none(event);
    } else if (name == "验证") {
      none(Verify(s_));
      not_done(view_.Ticked(), "个包未编译");
    } else if (name == "复制") {
      int failed = 0;
      none(CopyRuntimePackages(s_, &failed));
      not_done(failed, "项未能完成, 详见上面的日志");
    } else if (name == "安装") {
      Install(s_);
    } else if (name == "卸载") {
      int failed = 0;
      Uninstall(s_, o_.deleteBpl, &failed);
      not_done(failed, "项未能删除, 详见上面的日志");
    }
  } catch (const std::exception& e) {
    compiling_ = false;
    view_.ErrorLine(std::string("错误: ") + e.what());
    r = {kExitIncomplete, OneLine(e.what())};
  }
  if (view_.answeredNo) r = {kExitAnsweredNo, "对提问回答了 否 (加上 /yes 则回答 是)"};
  if (Stopped() && r.code == kExitDone) r = {kExitIncomplete, "已中止"};
  return r;
}

int UnattendedRun::Run() {
  if (const int code = Prepare(); code != kExitDone) return code;
  std::vector<std::string> steps;
  if (o_.uninstall) steps = {"卸载"};
  if (o_.compile) steps.push_back("编译");
  if (o_.verify) steps.push_back("验证");
  if (o_.copy) steps.push_back("复制");
  if (o_.install) steps.push_back("安装");
  std::string done;
  for (const std::string& step : steps) {
    CheckInterrupt();
    const StepOutcome r = Stopped() ? StepOutcome{kExitIncomplete, "已中止"} : Step(step);
    if (r.code != kExitDone) {
      view_.Line((r.code == kExitAnsweredNo ? "已停止: " : "未完成: ") + step + " — " + r.whyNot);
      return r.code;
    }
    done += (done.empty() ? "" : ", ") + step;
  }
  view_.Line("全部完成: " + done);
  return kExitDone;
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& args) {
  ParsedArguments p;
  UnattendedOptions& o = p.options;
  auto fail = [&](std::string why) {
    if (p.error.empty()) p.error = std::move(why);
  };
  bool library_seen = false;
  for (const std::string& arg : args) {
    if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
      fail("无法识别的参数: " + arg + " (开关以 / 或 - 开头)");
      continue;
    }
    const std::size_t colon = arg.find(':');
    const std::string name = ToLowerAscii(arg.substr(1, colon == std::string::npos ? colon : colon - 1));
    const bool has_value = colon != std::string::npos;
    const std::string value = has_value ? Trim(std::string_view(arg).substr(colon + 1)) : std::string();
    const std::string shown = "/" + name;
    bool* flag = nullptr;
    if (name == "compile") flag = &o.compile;
    else if (name == "verify") flag = &o.verify;
    else if (name == "copy") flag = &o.copy;
    else if (name == "install") flag = &o.install;
    else if (name == "uninstall") flag = &o.uninstall;
    else if (name == "deletebpl") flag = &o.deleteBpl;
    else if (name == "parallel") flag = &o.parallel;
    else if (name == "yes") flag = &o.yes;
    else if (name == "list") flag = &o.list;
    else if (name == "?" || name == "help") flag = &o.help;
    if (flag) {
      if (has_value) fail("开关 " + shown + " 不带值: " + arg);
      *flag = true;
      continue;
    }
    const bool takes_value = name == "release" || name == "library" || name == "packages" || name == "log";
    if (!takes_value) {
      fail("未知的开关: " + arg);
      continue;
    }
    if (value.empty()) {
      fail("缺少值: 应写作 " + shown + ":<值>");
      continue;
    }
    if (name == "release") {
      if (o.release) fail("只能指定一个 IDE 版本: " + arg);
      o.release = ReleaseNamed(value);
      if (!o.release) fail("未知的 IDE 版本: " + value);
    } else if (name == "library") {
      if (library_seen) fail("只能指定一个安装目录: " + arg);
      library_seen = true;
      o.library = value;
    } else if (name == "packages") {
      for (const std::string& package : Split(value, ','))
        if (!package.empty()) o.packages.push_back(package);
      if (o.packages.empty()) fail("缺少值: 应写作 /packages:<包,包,...>");
    } else if (name == "log") {
      if (!o.logFile.empty()) fail("只能指定一个日志文件: " + arg);
      o.logFile = value;
    }
  }
  if (!p.error.empty() || o.help) return p;
  const bool build_steps = o.compile || o.verify || o.copy || o.install;
  if (o.list) {
    if (build_steps || o.uninstall || o.release) fail("/list 只能单独使用");
    return p;
  }
  if (o.uninstall && build_steps) fail("/uninstall 只能单独使用, 不能与 /compile /verify /copy /install 一起");
  if (o.deleteBpl && !o.uninstall) fail("/deletebpl 只能与 /uninstall 一起使用");
  if (o.parallel && !o.compile) fail("/parallel 只能与 /compile 一起使用");
  if (!o.packages.empty() && !o.compile) fail("/packages 只能与 /compile 一起使用");
  if (!build_steps && !o.uninstall) fail("没有指定要做的步骤 (/compile /verify /copy /install 或 /uninstall)");
  if (!o.release) fail("缺少 /release:<版本>");
  if (!p.error.empty()) return p;
  // Package names as the build list of the release's family shows them.
  for (std::string& package : o.packages) {
    const FixedList rows = BuildOrder(o.release->family);
    auto it = std::find_if(rows.begin(), rows.end(),
                           [&](std::string_view row) { return EqualsNoCase(Trim(row), package); });
    if (it == rows.end()) fail("未知的包: " + package + " (" + std::string(o.release->caption) + " 的包列表中没有)");
    else package = Trim(*it);
  }
  return p;
}

std::vector<std::string> UsageText() {
  return {
      "Kestrin 无人值守运行: 在构建机和安装脚本中编译、验证、复制和安装 DEV 组件包.",
      "",
      "用法: kestrin.com /release:<版本> [/library:<目录>] [/packages:<包,...>] <步骤...> [选项...]",
      "      kestrin.com /list",
      "      kestrin.com /?",
      "",
      "版本 (每个步骤都需要):",
      "  /release:<版本>   Delphi6 Delphi7 Delphi8 BDS2005 BDS2006 RAD2007 RAD2009,",
      "                    也接受窗口中的名称, 如 \"RAD Studio 2009\"",
      "",
      "步骤 (无论书写顺序, 总是按 编译 验证 复制 安装 的顺序执行, 与窗口中的按钮做的完全相同):",
      "  /compile          编译包",
      "  /verify           验证每个包都已编译",
      "  /copy             把运行时包复制到系统目录",
      "  /install          把库的目录和设计时包登记到 IDE",
      "  /uninstall        从 IDE 中卸载 (只能单独使用)",
      "  /deletebpl        与 /uninstall 一起: 同时删除输出目录和系统目录中的包文件",
      "",
      "选项:",
      "  /library:<目录>   DEV 的安装目录, 默认是本程序所在的目录;",
      "                    批处理中可写 /library:\"%~dp0\" (批处理所在的目录)",
      "  /packages:<a,b>   只编译这些包 (名称与窗口中的包列表相同), 默认全部",
      "  /parallel         并行编译",
      "  /yes              对提问 (IDE 正在运行; 改用 PATH) 回答 是; 否则回答 否",
      "  /log:<文件>       同时把完整日志写入该文件 (UTF-8), 替换原有文件",
      "  /list             列出当前用户注册的 IDE 版本, 以及能否使用",
      "  /? 或 /help       显示本说明",
      "",
      "开关写作 /name 或 /name:value, 也可写作 -name; 不区分大小写.",
      "",
      "退出码:",
      "  0  全部完成",
      "  1  某个步骤未完成 (最后一行说明是哪一步、多少个包), 或被 Ctrl+C 中止",
      "  2  参数错误",
      "  3  IDE 版本或 DEV 安装目录不可用",
      "  4  因对提问回答 否 而停止",
      "",
      "示例:",
      "  构建机上完整安装:",
      "    kestrin.com /release:RAD2009 /compile /verify /copy /install /parallel /yes /log:install.log",
      "  只重新编译两个包:",
      "    kestrin.com /release:Delphi7 /packages:dxCore,cxLibraryVCL /compile",
      "  卸载, 并删除包文件:",
      "    kestrin.com /release:RAD2009 /uninstall /deletebpl /yes",
      "  看看哪些 IDE 版本可用:",
      "    kestrin.com /list",
  };
}

int RunUnattended(Platform os, Console& console, const std::vector<std::string>& args,
                  std::function<std::uint64_t()> clock_ms) {
  const ParsedArguments parsed = ParseArguments(args);
  if (!parsed.error.empty()) {
    console.WriteErr("参数错误: " + parsed.error);
    console.WriteErr("");
    for (const std::string& line : UsageText()) console.WriteErr(line);
    return kExitBadArguments;
  }
  const UnattendedOptions& o = parsed.options;
  if (!o.library.empty() && !os.fs.IsFullyQualified(o.library)) {
    console.WriteErr("参数错误: /library 需要完整路径 (如 C:\\DevExpress VCL): " + o.library);
    return kExitBadArguments;
  }
  if (o.help) {
    for (const std::string& line : UsageText()) console.WriteOut(line);
    return kExitDone;
  }
  console.CatchInterrupts();
  NoDialogShell shell(os.shell);
  ConsoleView view(console, o.yes);
  Session session(Platform{os.registry, os.fs, os.processes, shell}, view);
  if (o.list) {
    ListReleases(session, view);
    return kExitDone;
  }
  if (!o.logFile.empty()) {
    view.logFile = os.fs.CreateWrite(o.logFile);
    if (!view.logFile || !view.logFile->Write("\xEF\xBB\xBF")) {
      console.WriteErr("参数错误: 无法写入日志文件 " + o.logFile + ": " + os.fs.LastError());
      return kExitBadArguments;
    }
  }
  UnattendedRun run(session, view, console, o, std::move(clock_ms));
  const int code = run.Run();
  if (view.logFile) view.logFile->Close();
  return code;
}

}  // namespace kestrin
