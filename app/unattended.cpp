#include "app/unattended.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "app/panes.h"
#include "app/dispatch.h"
#include "platform/text.h"
#include "targets/library_folder.h"
#include "targets/releases.h"

namespace kestrin {
namespace {

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
  std::string WindowsFolder() override { return inner_.WindowsFolder(); }
  std::string MachinePath() override { return inner_.MachinePath(); }
  std::string ExpandEnvironment(std::string_view text) override {
    return inner_.ExpandEnvironment(text);
  }
  std::string LastError() override { return inner_.LastError(); }

 private:
  Shell& inner_;
};

// What the commands see of a run without the window: the log goes to
// standard output (and the log file) as it is written, message boxes to
// standard error, questions are answered by /yes, and a stop is Ctrl+C,
// Ctrl+Break or an output that is gone.
class ConsoleHost : public Host {
 public:
  ConsoleHost(Console& console, bool yes, std::function<std::uint64_t()> clock)
      : console_(console), yes_(yes), stop_(std::move(clock)) {}

  void Log(std::string_view text) override {
    const std::string entry = LogEntry(text);
    for (std::size_t start = 0; start < entry.size();) {
      const std::size_t end = entry.find("\r\n", start);
      Line(std::string_view(entry).substr(start, end - start));
      start = end + 2;
    }
  }
  void Message(std::string_view text, std::string_view, MessageIcon icon) override {
    ErrorLine((icon == MessageIcon::Error ? "错误: " : "提示: ") + OneLine(text));
  }
  bool Ask(std::string_view text, std::string_view) override {
    ErrorLine("提示: " + OneLine(text) + (yes_ ? " → 回答: 是 (/yes)" : " → 回答: 否 (没有 /yes)"));
    return yes_;
  }
  StopToken& Stop() override { return stop_; }

  // A line of the run's own (not of a command's log) on standard output.
  // An output that is gone stops the run at once.
  void Line(std::string_view line) {
    if (!console_.WriteOut(line) && !stop_.ending()) stop_.StopAndEnd();
    if (logFile) logFile->Write(std::string(line) + "\r\n");
  }
  void ErrorLine(std::string_view line) {
    if (!console_.WriteErr(line) && !stop_.ending()) stop_.StopAndEnd();
    if (logFile) logFile->Write(std::string(line) + "\r\n");
  }
  // Ctrl+C, Ctrl+Break or an output that is gone stop the run as the stop
  // button stops a compile: no compiler starts any more, and one that runs
  // is ended after the grace period.
  void LookForStop() {
    console_.HandleQueuedMessages();
    if (!stop_.ending() && (console_.Interrupted() || console_.Broken())) stop_.StopAndEnd();
  }

  std::unique_ptr<File> logFile;

 private:
  Console& console_;
  const bool yes_;
  StopToken stop_;
};

// The releases registered for the current user, and whether each can be used.
void ListReleases(Session& s, ConsoleHost& host) {
  for (const IdeProfile& ide : kIdeProfiles) {
    const auto why = WhyNotUsable(s, ide);
    std::string line = std::string(ide.name) + " (" + std::string(ide.caption) + "): ";
    host.Line(line + (why ? "不可用, " + *why : "可用"));
  }
}

struct StepOutcome {
  int code = kExitDone;
  std::string whyNot;  // for the last line, when the step did not complete
};

class UnattendedRun {
 public:
  UnattendedRun(Session& s, ConsoleHost& host, const UnattendedOptions& o) : s_(s), host_(host), o_(o) {}

  int Run();

 private:
  int Prepare();
  StepOutcome Step(CommandId id);
  CommandOutcome RunOnItsThread(CommandId id);

  Session& s_;
  ConsoleHost& host_;
  const UnattendedOptions& o_;
  CommandRequest request_;
};

int UnattendedRun::Prepare() {
  const std::string folder =
      NormalizeFolderPath(o_.library.empty() ? s_.fs.ExecutableFolder() : o_.library);
  if (!folder.empty() && !s_.fs.DirExists(folder)) {
    host_.ErrorLine("文件夹不存在: " + folder);
    return kExitUnusable;
  }
  if (!IsLibraryFolder(s_.fs, folder)) {
    host_.ErrorLine("不是 DEV 的安装目录 (其中没有 " + std::string(kMarkerFolder) + " 文件夹): " +
                    (folder.empty() ? o_.library : folder));
    return kExitUnusable;
  }
  request_.target.library = folder;
  const IdeProfile& ide = *o_.release;
  if (auto why = WhyNotUsable(s_, ide)) {
    host_.ErrorLine("无法使用 " + std::string(ide.caption) + ": " + *why);
    return kExitUnusable;
  }
  ReleaseChoice choice;
  try {
    choice = ChooseRelease(s_, ide, "");
  } catch (const std::exception& e) {
    host_.ErrorLine("无法使用 " + std::string(ide.caption) + ": " + e.what());
    return kExitUnusable;
  }
  request_.target.release = &ide;
  request_.target.compilerFolder = choice.compilerFolder;
  request_.packages.Load(std::move(choice.rows));
  for (std::size_t i = 0; i < request_.packages.size(); ++i) {
    const std::string row = Trim(request_.packages.row(i));
    const bool wanted = o_.packages.empty() ||
                        std::any_of(o_.packages.begin(), o_.packages.end(),
                                    [&](const std::string& p) { return EqualsNoCase(p, row); });
    request_.packages.Tick(i, wanted);
  }
  request_.parallel = o_.parallel;
  request_.force = o_.force;
  request_.deletePackageFiles = o_.deleteBpl;
  return kExitDone;
}

// The command runs on a thread of its own, writing its lines as they come;
// this thread looks for Ctrl+C and a closed output meanwhile.
CommandOutcome UnattendedRun::RunOnItsThread(CommandId id) {
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  CommandOutcome outcome;
  std::thread worker([&] {
    CommandOutcome o = RunCommand(s_, id, request_);
    std::lock_guard<std::mutex> lock(mutex);
    outcome = std::move(o);
    done = true;
    ended.notify_all();
  });
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (!ended.wait_for(lock, std::chrono::milliseconds(50), [&] { return done; })) {
      lock.unlock();
      host_.LookForStop();
      lock.lock();
    }
  }
  worker.join();
  return outcome;
}

StepOutcome UnattendedRun::Step(CommandId id) {
  StepOutcome r;
  auto not_done = [&](int count, const std::string& what) {
    if (count > 0) r = {kExitIncomplete, std::to_string(count) + " " + what};
  };
  const CommandOutcome o = RunOnItsThread(id);
  if (!o.error.empty()) {
    host_.ErrorLine("错误: " + o.error);
    return {kExitIncomplete, OneLine(o.error)};
  }
  switch (id) {
    case CommandId::Compile: {
      if (o.compile->started) request_.last = HistoryOf(*o.compile);
      const int total = static_cast<int>(o.compile->packages.size());
      not_done(total - o.compile->Count(PackageOutcome::Compiled),
               "个包没有编译成功 (共 " + std::to_string(total) + " 个)");
      break;
    }
    case CommandId::Verify:
      request_.packages.TickAll(false);
      for (std::size_t row : o.verify->missing) request_.packages.Tick(row, true);
      not_done(static_cast<int>(o.verify->missing.size()), "个包未编译");
      if (o.verify->started && o.verify->missing.empty())
        host_.Line(std::to_string(request_.packages.size()) + " 个包均已编译");
      break;
    case CommandId::Copy: not_done(o.result.failures, "项未能完成, 详见上面的日志"); break;
    case CommandId::Install:
      not_done(o.result.failures, "处失败");
      if (o.install->unloadable > 0)
        r = {kExitIncomplete, std::to_string(o.install->unloadable) + " 个设计时包 IDE 无法加载" +
                                  (o.result.failures > 0 ? ", " + r.whyNot : std::string())};
      break;
    case CommandId::Diagnose: not_done(o.diagnose->errors, "个错误"); break;
    case CommandId::Uninstall: not_done(o.result.failures, "处失败"); break;
  }
  if (!o.result.started && r.code == kExitDone)
    r = {kExitIncomplete, o.result.whyNot.empty() ? "没有执行" : OneLine(o.result.whyNot)};
  if (o.result.answeredNo) r = {kExitAnsweredNo, "对提问回答了 否 (加上 /yes 则回答 是)"};
  if (host_.Stop().stopped() && r.code == kExitDone) r = {kExitIncomplete, "已中止"};
  return r;
}

int UnattendedRun::Run() {
  if (const int code = Prepare(); code != kExitDone) return code;
  std::string done;
  for (const CommandSpec& spec : kCommands) {
    if (!o_.steps[static_cast<std::size_t>(spec.id)]) continue;
    host_.LookForStop();
    const StepOutcome r = host_.Stop().stopped() ? StepOutcome{kExitIncomplete, "已中止"} : Step(spec.id);
    if (r.code != kExitDone) {
      host_.Line((r.code == kExitAnsweredNo ? "已停止: " : "未完成: ") + std::string(spec.step) + " — " +
                 r.whyNot);
      return r.code;
    }
    done += (done.empty() ? "" : ", ") + std::string(spec.step);
  }
  host_.Line("全部完成: " + done);
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
    for (const CommandSpec& spec : kCommands)
      if (name == spec.switchName) flag = &o.steps[static_cast<std::size_t>(spec.id)];
    if (flag) {
    } else if (name == "deletebpl") flag = &o.deleteBpl;
    else if (name == "parallel") flag = &o.parallel;
    else if (name == "force") flag = &o.force;
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
      if (!o.release) {
        std::string names;
        for (const IdeProfile& ide : kIdeProfiles) names += (names.empty() ? "" : ", ") + std::string(ide.name);
        fail("未知的 IDE 版本: " + value + " (可用: " + names + ")");
      }
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
  // The build steps: every command but the uninstall, which goes alone.
  bool build_steps = false;
  std::string build_switches;
  for (const CommandSpec& spec : kCommands) {
    if (spec.id == CommandId::Uninstall) continue;
    build_steps = build_steps || o.step(spec.id);
    build_switches += (build_switches.empty() ? "/" : " /") + std::string(spec.switchName);
  }
  const bool uninstall = o.step(CommandId::Uninstall), compile = o.step(CommandId::Compile);
  if (o.list) {
    if (build_steps || uninstall || o.release) fail("/list 只能单独使用");
    const std::pair<const char*, bool> extras[] = {
        {"/log", !o.logFile.empty()}, {"/parallel", o.parallel}, {"/packages", !o.packages.empty()},
        {"/deletebpl", o.deleteBpl}, {"/force", o.force}};
    for (const auto& [extra, given] : extras)
      if (given) fail(std::string("/list 不能与 ") + extra + " 一起使用");
    return p;
  }
  if (uninstall && build_steps) fail("/uninstall 只能单独使用, 不能与 " + build_switches + " 一起");
  if (o.deleteBpl && !uninstall) fail("/deletebpl 只能与 /uninstall 一起使用");
  if (o.parallel && !compile) fail("/parallel 只能与 /compile 一起使用");
  if (o.force && !compile) fail("/force 只能与 /compile 一起使用");
  if (!o.packages.empty() && !compile) fail("/packages 只能与 /compile 一起使用");
  if (!build_steps && !uninstall) fail("没有指定要做的步骤 (" + build_switches + " 或 /uninstall)");
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
  std::string releases, order;
  for (const IdeProfile& ide : kIdeProfiles) {
    releases += ' ';
    releases += ide.name;
  }
  std::vector<std::string> steps;
  for (const CommandSpec& spec : kCommands) {
    std::string line = "  /";
    line += spec.switchName;
    line.resize(std::max<std::size_t>(line.size() + 1, 20), ' ');
    steps.push_back(line + std::string(spec.usage));
    if (spec.id == CommandId::Uninstall) continue;
    order += spec.step;
    order += ' ';
  }
  std::vector<std::string> lines = {
      "Kestrin 无人值守运行: 在构建机和安装脚本中编译、验证、复制和安装 DEV 组件包.",
      "",
      "用法: kestrin.com /release:<版本> [/library:<目录>] [/packages:<包,...>] <步骤...> [选项...]",
      "      kestrin.com /list",
      "      kestrin.com /?",
      "",
      "版本 (每个步骤都需要):",
      "  /release:<版本>  " + releases + ",",
      "                    也接受窗口中的名称, 如 \"RAD Studio 2009\"",
      "",
      "步骤 (无论书写顺序, 总是按 " + order + "的顺序执行, 与窗口中的按钮做的完全相同):",
  };
  lines.insert(lines.end(), steps.begin(), steps.end());
  const std::vector<std::string> rest = {
      "  /deletebpl        与 /uninstall 一起: 同时删除输出目录和系统目录中的包文件",
      "",
      "选项:",
      "  /library:<目录>   DEV 的安装目录, 默认是本程序所在的目录;",
      "                    批处理中可写 /library:\"%~dp0\" (批处理所在的目录)",
      "  /packages:<a,b>   只编译这些包 (名称与窗口中的包列表相同), 默认全部",
      "  /parallel         并行编译",
      "  /force            与 /compile 一起: 编译前的检查找不到所需 .dcp 的包也照样编译",
      "                    (编译器也许能在它自己的配置指向的文件夹中找到)",
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
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

int RunUnattended(Platform os, Console& console, const std::vector<std::string>& args,
                  std::function<std::uint64_t()> clock_ms) {
  const ParsedArguments parsed = ParseArguments(args);
  // The error and where the usage is: on a console of 25 lines the whole
  // usage would push the error out of sight.
  if (!parsed.error.empty()) {
    console.WriteErr("参数错误: " + parsed.error);
    console.WriteErr(std::string(kSeeTheUsage));
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
  ConsoleHost host(console, o.yes, std::move(clock_ms));
  Session session(Platform{os.registry, os.fs, os.processes, shell}, host);
  if (o.list) {
    ListReleases(session, host);
    return kExitDone;
  }
  if (!o.logFile.empty()) {
    host.logFile = os.fs.CreateWrite(o.logFile);
    if (!host.logFile || !host.logFile->Write("\xEF\xBB\xBF")) {
      console.WriteErr("参数错误: 无法写入日志文件 " + o.logFile + ": " + os.fs.LastError());
      return kExitBadArguments;
    }
  }
  UnattendedRun run(session, host, o);
  const int code = run.Run();
  if (host.logFile) host.logFile->Close();
  return code;
}

}  // namespace kestrin
