#include "compile/compile.h"

#include <algorithm>
#include <array>
#include <optional>
#include <set>
#include <string>

#include "compile/build_check.h"
#include "compile/compiler_messages.h"
#include "compile/console_runner.h"
#include "compile/package_requires.h"
#include "platform/file_search.h"
#include "platform/text.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"

namespace kestrin {

using Clock = std::chrono::steady_clock;

int CompileResult::Count(PackageOutcome outcome) const {
  return static_cast<int>(std::count_if(packages.begin(), packages.end(),
                                        [&](const PackageResult& p) { return p.outcome == outcome; }));
}

CompileHistory HistoryOf(const CompileResult& result) {
  CompileHistory h;
  for (const PackageResult& p : result.packages) {
    const std::string name = ToLowerAscii(p.package);
    if (p.outcome == PackageOutcome::Failed || p.outcome == PackageOutcome::ProjectNotFound ||
        p.outcome == PackageOutcome::Skipped)
      h.failures[name] = p.Reason();
    if (p.outcome == PackageOutcome::Compiled || p.outcome == PackageOutcome::Failed)
      h.seconds[name] = std::chrono::duration<double>(p.time).count();
  }
  return h;
}

namespace {

// The compiler's command line up to the package file: the output folder
// for packages, units and symbol files, and the source search path (the
// output folder three times, then every product's Sources) for units and
// resources. Each path goes on it in its short form; where a volume has no
// short names, a path with a blank is quoted instead.
std::string CompilerCommandPrefix(Session& s, const Target& t, const std::string& out) {
  const std::string out_arg = CommandLinePath(s.fs, out);
  std::string search_path = out_arg + ";" + out_arg + ";" + out_arg;
  for (std::string_view product : kProductSourceFolders) {
    search_path += ";";
    search_path += CommandLinePath(s.fs, ProductSourceFolder(t, product));
  }
  const std::string bin = s.fs.ShortPath(t.compilerFolder);
  return QuoteIfBlank(bin + "\\dcc32.exe") + " -LE" + out_arg + " -U" + search_path + " -R" +
         search_path + " -N" + out_arg + " -Q -H -W -$D- -$L- -$Y- -LN" + out_arg + " -M ";
}

std::string Duration(std::chrono::milliseconds time) {
  const long long seconds = (time.count() + 500) / 1000;
  return std::to_string(seconds / 60) + " 分 " + std::to_string(seconds % 60) + " 秒";
}

bool Unchanged(const std::optional<FileInfo>& before, const FileInfo& now) {
  return before && before->modified == now.modified && before->size == now.size;
}

// The longest a run sleeps without looking at its stop: a safety net only,
// since a stop wakes it.
constexpr int kLongestWaitMs = 1000;

// One ticked package of a run: what compiling it takes. Where it stands
// (waiting, running, done) is the plan's to say.
struct Package {
  std::size_t row = 0;         // in the build list
  std::string projectFolder;   // its project's folder (or, when it has none, the one before's)
  bool projectFound = false;
  bool endedByProgram = false;
  CapturedChild compiler;
  std::array<std::string, 2> outputs;  // its .bpl and .dcp
  std::array<std::optional<FileInfo>, 2> before;
  Clock::time_point started;
  PackageResult result;
};

// What the user sees of a run, from what it is told and nothing else: each
// package's block in the log in list order (its "编译：" line as soon as it
// runs and every package before it is written, its output once it has
// ended), the packages' states, the gauge, the caption and the summary.
class CompileReporter {
 public:
  CompileReporter(Session& s, std::size_t rows) : s_(s), last_row_(static_cast<int>(rows) - 1) {}

  void Open(bool parallel, int compilers) {
    s_.OpenBlock("编译组件...");
    if (parallel) s_.Log("并行编译: 最多同时运行 " + std::to_string(compilers) + " 个编译器");
    s_.host.Progress(0, last_row_);
  }
  // The ticked packages, in list order, before any starts.
  void Planned(std::vector<std::pair<std::size_t, std::string>> packages) {
    blocks_.resize(packages.size());
    for (std::size_t i = 0; i < packages.size(); ++i) {
      blocks_[i].row = packages[i].first;
      blocks_[i].file = std::move(packages[i].second);
    }
  }
  // A package that never starts: nothing of it goes into the log here.
  void Skipped(std::size_t job, const PackageResult& result) {
    blocks_[job].skipped = true;
    s_.host.PackageEnded(blocks_[job].row, result);
  }
  void Started(std::size_t job) {
    blocks_[job].started = true;
    s_.host.PackageStarted(blocks_[job].row);
    Write(false);
  }
  void Ended(std::size_t job, const PackageResult& result, std::string text, std::vector<std::string> notes) {
    Block& b = blocks_[job];
    b.started = b.ended = true;
    b.text = std::move(text);
    b.notes = std::move(notes);
    s_.host.PackageEnded(b.row, result);
    Write(false);
    s_.host.Caption("Kestrin - 正在编译 " + b.file);
    gauge_ = std::max(gauge_, static_cast<int>(b.row));
    s_.host.Progress(gauge_, last_row_);
  }
  // What is left after a stop, passing over the packages that never started.
  void Close() { Write(true); }

  void Summary(const CompileResult& r) {
    const int total = static_cast<int>(r.packages.size());
    const int not_started = r.Count(PackageOutcome::NotStarted);
    s_.Log("编译结果: 共 " + std::to_string(total) + " 个包, 成功 " +
           std::to_string(r.Count(PackageOutcome::Compiled)) + " 个, 失败 " +
           std::to_string(r.Count(PackageOutcome::Failed) + r.Count(PackageOutcome::ProjectNotFound)) +
           " 个, 未编译 " +
           std::to_string(not_started + r.Count(PackageOutcome::Ended) + r.Count(PackageOutcome::Skipped)) +
           " 个; 用时 " + Duration(r.time));
    for (const PackageResult& p : r.packages)
      if (p.outcome == PackageOutcome::Failed || p.outcome == PackageOutcome::ProjectNotFound)
        s_.Log("失败: " + p.file + " — " + p.Reason());
    for (const PackageResult& p : r.packages)
      if (p.outcome == PackageOutcome::Skipped) s_.Log("未编译: " + p.file + " — " + p.Reason());
    if (r.stopped && not_started > 0)
      s_.Log("编译已中止: " + std::to_string(not_started) + " 个包没有开始编译.");
  }

 private:
  struct Block {
    std::size_t row = 0;
    std::string file, text;
    std::vector<std::string> notes;
    bool started = false, ended = false, headerWritten = false, skipped = false;
  };

  void Write(bool final_pass) {
    for (; head_ < blocks_.size(); ++head_) {
      Block& b = blocks_[head_];
      if (b.skipped) continue;
      if (!b.started) {
        if (final_pass) continue;
        return;
      }
      if (!b.headerWritten) {
        s_.Log("编译：" + b.file);
        b.headerWritten = true;
      }
      if (!b.ended) return;
      s_.Log(b.text);
      for (const std::string& note : b.notes) s_.Log(note);
      b.text.clear();
      b.notes.clear();
    }
  }

  Session& s_;
  const int last_row_;
  std::vector<Block> blocks_;
  std::size_t head_ = 0;  // the first block not written whole yet
  int gauge_ = 0;
};

// A run, one at a time or several at once: the same plan either way, with
// one compiler or more.
class CompileRun {
 public:
  CompileRun(Session& s, const CompileRequest& request, std::string prefix, std::string compiler)
      : s_(s),
        request_(request),
        parallel_(request.parallel),
        compilers_(request.parallel
                       ? std::clamp(request.compilers > 0 ? request.compilers
                                                          : s.processes.UsableProcessors(),
                                    1, kMaxCompilers)
                       : 1),
        prefix_(std::move(prefix)),
        compiler_(std::move(compiler)),
        out_(OutputFolder(request.target)),
        children_(s.processes.NewChildSet()),
        reporter_(s, request.packages.size()) {}

  CompileResult Run();

 private:
  void Plan();
  void CheckBuildable(const std::vector<std::string>& modules);
  Requires RequiresOf(std::string_view name);
  void StartWhatMay();
  void Start(std::size_t job);
  void ReadAll(std::vector<std::size_t>* ended);
  void Pass();
  void EndAll();
  void Finish(std::size_t job);
  std::vector<std::string> RemoveWrittenOutputs(Package& p);
  bool Stopped() { return s_.Stopped(); }

  Session& s_;
  const CompileRequest& request_;
  const bool parallel_;
  const int compilers_;
  const std::string prefix_;
  const std::string compiler_;  // the compiler's path, as the log names it
  const std::string out_;
  std::unique_ptr<ChildSet> children_;
  CompileReporter reporter_;
  FileIndex projects_;
  std::vector<Package> packages_;
  std::optional<CompilePlan> plan_;
  std::map<std::string, Requires> requires_;  // by lower-case name: each project read once
  std::set<std::string> listed_;  // the build list's module names, lower case, once asked for
  int running_ = 0;
};

// What the plan knows of a package by the name a requires clause gives it:
// its own clause where the library has its project; none for the IDE's own
// packages; unknown for a package of the build list without a readable
// project.
Requires CompileRun::RequiresOf(std::string_view name) {
  const std::string key = ToLowerAscii(name);
  if (auto hit = requires_.find(key); hit != requires_.end()) return hit->second;
  Requires& known = requires_[key];
  std::string text;
  if (const FoundFile* project = projects_.Find(std::string(name) + ".dpk")) {
    if (ReadWholeFile(s_.fs, project->path, &text))
      if (auto names = ReadRequiredPackages(text)) return known = {Requires::Kind::Known, std::move(*names)};
    return known = {Requires::Kind::Unknown, {}};
  }
  if (listed_.empty()) {
    const std::string_view suffix = request_.target.shortSuffix();
    for (const std::string& row : request_.packages.rows())
      listed_.insert(ToLowerAscii(PackageFileName(Trim(row), suffix, "")));
  }
  return known = {listed_.count(key) ? Requires::Kind::Unknown : Requires::Kind::NotInLibrary, {}};
}

// The packages that cannot be built here are named before any compiler
// starts, and never start.
void CompileRun::CheckBuildable(const std::vector<std::string>& modules) {
  std::vector<std::string> files;
  for (const Package& p : packages_) files.push_back(p.result.file);
  const BuildCheck check = kestrin::CheckBuildable(
      s_.fs, files, modules,
      [&](std::size_t i) {
        return packages_[i].projectFound ? RequiresOf(modules[i]) : Requires{Requires::Kind::NotInLibrary, {}};
      },
      DcpFolders(s_, request_.target));
  for (const std::string& line : check.lines) s_.Log(line);
  std::size_t skipped = 0;
  for (std::size_t i = 0; i < packages_.size(); ++i) {
    if (check.missing[i].empty()) continue;
    PackageResult& r = packages_[i].result;
    r.outcome = PackageOutcome::Skipped;
    r.needs = check.missing[i];
    plan_->Done(i);
    reporter_.Skipped(i, r);
    ++skipped;
  }
  if (skipped > 0 && skipped == packages_.size()) s_.Log("勾选的包都无法编译, 没有启动编译器.");
}

// Every ticked package, in list order, each waiting for the ticked packages
// before it that it requires. One at a time the plan goes down the list.
void CompileRun::Plan() {
  const std::string_view suffix = request_.target.shortSuffix();
  std::string last_project_folder;
  std::vector<std::pair<std::size_t, std::string>> planned;
  std::vector<std::string> names;
  for (std::size_t row = 0; row < request_.packages.size(); ++row) {
    if (!request_.packages.ticked(row)) continue;
    Package& p = packages_.emplace_back();
    p.row = row;
    p.result.row = row;
    p.result.package = Trim(request_.packages.row(row));
    p.result.file = PackageFileName(p.result.package, suffix, ".dpk");
    // A project that is nowhere in the tree is handed to the compiler in the
    // folder of the previous package's project, and the compiler says so.
    if (const FoundFile* project = projects_.Find(p.result.file)) {
      p.projectFound = true;
      last_project_folder = FolderPart(project->path);
    }
    p.projectFolder = last_project_folder;
    p.outputs = {PackageFile(out_, p.result.package, suffix, ".bpl"),
                 PackageFile(out_, p.result.package, suffix, ".dcp")};
    planned.emplace_back(row, p.result.file);
    names.push_back(PackageFileName(p.result.package, suffix, ""));
  }
  const std::vector<std::string> modules = names;
  reporter_.Planned(std::move(planned));
  plan_.emplace(
      std::move(names), [&](std::string_view name) { return RequiresOf(name); },
      [&](std::string_view name) -> double {
        if (!request_.last) return 0;
        std::string package(name);
        if (EndsWithNoCase(package, suffix)) package.resize(package.size() - suffix.size());
        auto it = request_.last->seconds.find(ToLowerAscii(package));
        return it == request_.last->seconds.end() ? 0 : it->second;
      },
      parallel_ ? request_.order : StartOrder::ListOrder);
  if (!request_.force) CheckBuildable(modules);
}

// A package that cannot start is done at once, which may make others ready.
void CompileRun::StartWhatMay() {
  while (running_ < compilers_ && !Stopped())
    if (auto next = plan_->Next()) Start(*next);
    else break;
}

void CompileRun::Start(std::size_t job) {
  Package& p = packages_[job];
  ++running_;
  plan_->Started(job);
  reporter_.Started(job);
  for (std::size_t k = 0; k < p.outputs.size(); ++k) {
    FileInfo info;
    if (s_.fs.Inspect(p.outputs[k], &info)) p.before[k] = info;
  }
  p.started = Clock::now();
  const std::string line = prefix_ + " " + QuoteIfBlank(s_.fs.ShortPath(p.projectFolder) + p.result.file);
  if (!p.compiler.Start(*children_, line)) {
    p.result.startError = "无法启动编译器 " + compiler_ + ": " + s_.processes.LastError();
    Finish(job);
  }
}

void CompileRun::ReadAll(std::vector<std::size_t>* ended) {
  for (std::size_t i = 0; i < packages_.size(); ++i) {
    if (plan_->StateOf(i) != CompilePlan::State::Running) continue;
    packages_[i].compiler.Poll();
    if (packages_[i].compiler.ended() && ended) ended->push_back(i);
  }
}

// One turn while compilers run: the output that has arrived read, those
// that ended finished; otherwise a sleep until output arrives, a compiler
// ends, a stop is asked for or the grace period of an end is over.
void CompileRun::Pass() {
  std::vector<std::size_t> ended;
  ReadAll(&ended);
  if (ended.empty()) {
    const long long until_end = s_.host.Stop().MsUntilEnd();
    children_->Wait(until_end >= 0 ? static_cast<int>(std::min<long long>(until_end, kLongestWaitMs))
                                   : kLongestWaitMs);
    ReadAll(&ended);
  }
  for (std::size_t job : ended) Finish(job);
  if (running_ > 0 && s_.host.Stop().EndNow()) EndAll();
}

// The program is closing and its grace period is over: every running
// compiler is ended with everything it started. One that does not go in
// time is left to the system (the set's clean-up ends it with its job).
void CompileRun::EndAll() {
  std::vector<std::size_t> running, ended;
  for (std::size_t i = 0; i < packages_.size(); ++i) {
    if (plan_->StateOf(i) != CompilePlan::State::Running) continue;
    Package& p = packages_[i];
    // A compiler that has ended since the last look finishes as it ended:
    // its outputs are whole.
    p.compiler.Poll();
    if (p.compiler.ended()) {
      ended.push_back(i);
      continue;
    }
    p.compiler.Terminate();
    p.endedByProgram = true;
    running.push_back(i);
  }
  for (std::size_t job : ended) Finish(job);
  const auto deadline = Clock::now() + std::chrono::milliseconds(kEndWaitMs);
  auto all_gone = [&] {
    return std::all_of(running.begin(), running.end(), [&](std::size_t i) { return packages_[i].compiler.ended(); });
  };
  while (!all_gone() && Clock::now() < deadline) {
    children_->Wait(50);
    ReadAll(nullptr);
  }
  for (std::size_t job : running) Finish(job);
}

// After a compile that did not succeed: the package files its compiler
// wrote since it started may be cut short (it was ended, it crashed, the
// disk filled up), and such a .bpl must never be copied or registered.
// Files it did not touch stay. Returns the lines that say what was done.
std::vector<std::string> CompileRun::RemoveWrittenOutputs(Package& p) {
  std::vector<std::string> notes;
  const bool ended = p.result.outcome == PackageOutcome::Ended;
  for (std::size_t i = 0; i < p.outputs.size(); ++i) {
    const std::string& path = p.outputs[i];
    FileInfo now;
    if (!s_.fs.Inspect(path, &now) || Unchanged(p.before[i], now)) continue;
    if (s_.fs.RemoveFile(path))
      notes.push_back((ended ? "编译器被中止, 已删除可能不完整的文件: " : "已删除编译失败时写下的文件: ") + path);
    else
      notes.push_back((ended ? "编译器被中止, 无法删除可能不完整的文件: " : "无法删除编译失败时写下的文件: ") + path +
                      ": " + s_.fs.LastError());
  }
  return notes;
}

void CompileRun::Finish(std::size_t job) {
  Package& p = packages_[job];
  --running_;
  plan_->Done(job);
  PackageResult& r = p.result;
  r.time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - p.started);
  std::string text;
  std::vector<std::string> notes;
  if (!r.startError.empty()) {
    r.outcome = PackageOutcome::Failed;
    text = r.startError;
  } else {
    r.exitCode = p.compiler.exitCode();
    text = OutputText(p.compiler.bytes);
    const CompilerMessages messages = ScanCompilerOutput(text);
    r.firstError = messages.firstError;
    r.warnings = messages.warnings;
    r.hints = messages.hints;
    FileInfo bpl;
    const bool fresh = s_.fs.Inspect(p.outputs[0], &bpl) && !Unchanged(p.before[0], bpl);
    // A compiler that ended by itself just before the program ended it
    // reports its own success.
    const bool ended = p.endedByProgram && r.exitCode != 0;
    if (ended) r.outcome = PackageOutcome::Ended;
    else if (r.exitCode == 0 && fresh) r.outcome = PackageOutcome::Compiled;
    else if (!p.projectFound) r.outcome = PackageOutcome::ProjectNotFound;
    else r.outcome = PackageOutcome::Failed;
    if (r.outcome != PackageOutcome::Compiled) notes = RemoveWrittenOutputs(p);
  }
  p.compiler = CapturedChild();  // its handles and output go now
  reporter_.Ended(job, r, std::move(text), std::move(notes));
  s_.processes.TrimWorkingSet();
}

CompileResult CompileRun::Run() {
  const auto begun = Clock::now();
  reporter_.Open(parallel_, compilers_);

  // One walk of the library finds every package project; each look-up gives
  // the hit a full search of the tree would give.
  projects_.Build(s_.fs, request_.target.library, ".dpk", {});
  s_.LogWalkFailures(projects_);
  Plan();

  // A stop wakes the wait for the compilers at once.
  StopToken& stop = s_.host.Stop();
  stop.SetWaker([set = children_.get()] { set->Wake(); });
  struct ClearWaker {
    StopToken& stop;
    ~ClearWaker() { stop.SetWaker({}); }
  } clear{stop};
  bool stop_told = false;
  for (;;) {
    // What was told before the stop comes first, then the stop, then the
    // blocks of the packages that were in progress.
    if (!stop_told && Stopped()) {
      stop_told = true;
      s_.Log(" ");
      s_.Log("=====================编译中止=====================");
    }
    StartWhatMay();
    if (running_ == 0) break;
    Pass();
  }
  reporter_.Close();

  CompileResult r;
  r.started = true;
  r.compilers = compilers_;
  r.stopped = Stopped();
  r.time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun);
  for (const Package& p : packages_) r.packages.push_back(p.result);
  reporter_.Summary(r);
  return r;
}

}  // namespace

CompileResult Compile(Session& s, const CompileRequest& request) {
  CompileResult refused;
  const Target& t = request.target;
  if (!CommandMayStart(s, t, {}, refused)) return refused;
  // Never a compiler named by a relative or drive-rooted path: Windows would
  // look for it in the current folder or the drive's root.
  const std::string compiler = JoinPath(t.compilerFolder, "dcc32.exe");
  if (!s.fs.IsFullyQualified(t.compilerFolder) || !s.fs.FileExists(compiler)) {
    refused.whyNot = "找不到编译器: " + compiler;
    s.host.Message(refused.whyNot, kAppTitle, MessageIcon::Error);
    return refused;
  }
  // Without it every package would fail for a reason the compiler cannot
  // name.
  const std::string out = OutputFolder(t);
  for (const std::string& folder : {t.library + "Library", out}) {
    if (s.fs.DirExists(folder) || s.fs.MakeDir(folder)) continue;
    refused.whyNot = "无法创建输出目录 " + folder + ": " + s.fs.LastError();
    s.host.Message(refused.whyNot, kAppTitle, MessageIcon::Error);
    return refused;
  }
  s.host.Running(true);
  struct IdleLook {  // back to the idle look, also after an error part-way
    Host& host;
    ~IdleLook() {
      host.Caption(kAppTitle);
      host.Running(false);
    }
  };
  CompileResult result;
  {
    IdleLook idle{s.host};
    CompileRun run(s, request, CompilerCommandPrefix(s, t, out), compiler);
    result = run.Run();
  }
  s.LogDone();
  return result;
}

}  // namespace kestrin
