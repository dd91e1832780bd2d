#include "compile/compile.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "compile/compiler_messages.h"
#include "compile/console_runner.h"
#include "compile/package_requires.h"
#include "platform/file_search.h"
#include "platform/text.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"

namespace kestrin {

using Clock = std::chrono::steady_clock;

std::string PackageResult::Reason() const {
  if (!startError.empty()) return startError;
  if (outcome == PackageOutcome::ProjectNotFound) return "库目录中找不到这个包工程";
  if (!firstError.empty()) return firstError;
  return "编译器退出码 " + std::to_string(exitCode) + ", 没有报告错误";
}

int CompileResult::Count(PackageOutcome outcome) const {
  return static_cast<int>(std::count_if(packages.begin(), packages.end(),
                                        [&](const PackageResult& p) { return p.outcome == outcome; }));
}

CompileHistory HistoryOf(const CompileResult& result) {
  CompileHistory h;
  for (const PackageResult& p : result.packages) {
    const std::string name = ToLowerAscii(p.package);
    if (p.outcome == PackageOutcome::Failed || p.outcome == PackageOutcome::ProjectNotFound)
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
    s.Pump();  // short names can be slow to come by; the window keeps answering
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

// One ticked package of a run, from waiting to its block in the log.
struct Job {
  enum class State { Waiting, Running, Done };
  std::size_t row = 0;         // in the build list
  std::string projectFolder;   // its project's folder (or, when it has none, the one before's)
  bool projectFound = false;
  State state = State::Waiting;
  bool headerWritten = false;
  bool endedByProgram = false;
  CapturedChild compiler;
  std::array<std::string, 2> outputs;  // its .bpl and .dcp
  std::array<std::optional<FileInfo>, 2> before;
  Clock::time_point started;
  std::string text;                // what the log shows of its compile
  std::vector<std::string> notes;  // lines after that
  PackageResult result;
};

// What the user sees of a run: each package's block in the log in list
// order, the gauge, the caption and the summary.
class CompileReporter {
 public:
  CompileReporter(Session& s, std::size_t rows) : s_(s), last_row_(static_cast<int>(rows) - 1) {}

  void Open(bool parallel, int compilers) {
    s_.OpenBlock("编译组件...");
    if (parallel) s_.Log("并行编译: 最多同时运行 " + std::to_string(compilers) + " 个编译器");
    s_.host.Progress(0, last_row_);
  }

  // Blocks go into the log whole and in list order: a package's "编译："
  // line as soon as it runs and every package before it is written, its
  // output once it has ended. The final pass writes what is left after a
  // stop, passing over the packages that never started.
  void Write(std::vector<Job>& jobs, bool final_pass) {
    for (; head_ < jobs.size(); ++head_) {
      Job& job = jobs[head_];
      if (job.state == Job::State::Waiting) {
        if (final_pass) continue;
        return;
      }
      if (!job.headerWritten) {
        s_.Log("编译：" + job.result.file);
        job.headerWritten = true;
      }
      if (job.state != Job::State::Done) return;
      s_.Log(job.text);
      for (const std::string& note : job.notes) s_.Log(note);
      job.text.clear();
    }
  }

  void Finished(const Job& job) {
    s_.Pump();
    s_.host.Caption("Kestrin - 正在编译 " + job.result.file);
    s_.TrimWorkingSetAndPump();
    gauge_ = std::max(gauge_, static_cast<int>(job.row));
    s_.host.Progress(gauge_, last_row_);
  }

  void Summary(const CompileResult& r) {
    const int total = static_cast<int>(r.packages.size());
    const int not_started = r.Count(PackageOutcome::NotStarted);
    s_.Log("编译结果: 共 " + std::to_string(total) + " 个包, 成功 " +
           std::to_string(r.Count(PackageOutcome::Compiled)) + " 个, 失败 " +
           std::to_string(r.Count(PackageOutcome::Failed) + r.Count(PackageOutcome::ProjectNotFound)) +
           " 个, 未编译 " + std::to_string(not_started + r.Count(PackageOutcome::Ended)) +
           " 个; 用时 " + Duration(r.time));
    for (const PackageResult& p : r.packages)
      if (p.outcome == PackageOutcome::Failed || p.outcome == PackageOutcome::ProjectNotFound)
        s_.Log("失败: " + p.file + " — " + p.Reason());
    if (r.stopped && not_started > 0)
      s_.Log("编译已中止: " + std::to_string(not_started) + " 个包没有开始编译.");
  }

 private:
  Session& s_;
  const int last_row_;
  std::size_t head_ = 0;  // the first job whose block is not written yet
  int gauge_ = 0;
};

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
  Job& AddJob(std::size_t row);
  void PlanAll();
  Requires RequiresOf(std::string_view name);
  Job* NextInListOrder();
  void StartWhatMay();
  void Start(Job& job);
  std::size_t PollAll(std::vector<Job*>* ended);
  void Pass();
  void EndAll();
  void Finish(Job& job);
  void RemoveWrittenOutputs(Job& job);
  bool Stopped() { return s_.host.StopRequested(); }

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
  std::vector<Job> jobs_;
  std::optional<CompilePlan> plan_;
  std::string last_project_folder_;
  std::size_t next_row_ = 0;  // one at a time: the next row of the list to look at
  int running_ = 0;
};

Job& CompileRun::AddJob(std::size_t row) {
  const std::string_view suffix = request_.target.shortSuffix();
  Job& job = jobs_.emplace_back();
  job.row = row;
  job.result.package = Trim(request_.packages.row(row));
  job.result.file = PackageFileName(job.result.package, suffix, ".dpk");
  // A project that is nowhere in the tree is handed to the compiler in the
  // folder of the previous package's project, and the compiler says so.
  if (const FoundFile* project = projects_.Find(job.result.file)) {
    job.projectFound = true;
    last_project_folder_ = FolderPart(project->path);
  }
  job.projectFolder = last_project_folder_;
  job.outputs = {PackageFile(out_, job.result.package, suffix, ".bpl"),
                 PackageFile(out_, job.result.package, suffix, ".dcp")};
  return job;
}

// What the plan knows of a package by the name a requires clause gives it:
// its own clause where the library has its project; none for the IDE's own
// packages; unknown for a package of the build list without a readable
// project.
Requires CompileRun::RequiresOf(std::string_view name) {
  std::string text;
  if (const FoundFile* project = projects_.Find(std::string(name) + ".dpk")) {
    if (ReadWholeFile(s_.fs, project->path, &text))
      if (auto names = ReadRequiredPackages(text)) return {Requires::Kind::Known, std::move(*names)};
    return {Requires::Kind::Unknown, {}};
  }
  const std::string_view suffix = request_.target.shortSuffix();
  for (const std::string& row : request_.packages.rows())
    if (EqualsNoCase(PackageFileName(Trim(row), suffix, ""), name)) return {Requires::Kind::Unknown, {}};
  return {Requires::Kind::NotInLibrary, {}};
}

// Several at once: every ticked package is known at the start, and each
// waits for the ticked packages before it that it requires.
void CompileRun::PlanAll() {
  for (std::size_t row = 0; row < request_.packages.size(); ++row)
    if (request_.packages.ticked(row)) AddJob(row);
  std::vector<std::string> names;
  for (const Job& job : jobs_)
    names.push_back(PackageFileName(job.result.package, request_.target.shortSuffix(), ""));
  std::size_t asked = 0;
  const std::string suffix(request_.target.shortSuffix());
  plan_.emplace(
      std::move(names),
      [&](std::string_view name) {
        if (++asked % 16 == 0) s_.Pump();
        return RequiresOf(name);
      },
      [&](std::string_view name) -> double {
        if (!request_.last) return 0;
        std::string package(name);
        if (EndsWithNoCase(package, suffix)) package.resize(package.size() - suffix.size());
        auto it = request_.last->seconds.find(ToLowerAscii(package));
        return it == request_.last->seconds.end() ? 0 : it->second;
      },
      request_.order);
}

// One at a time: the ticks are read as the run reaches each row, so a tick
// set or cleared during the run on a row not yet reached counts.
Job* CompileRun::NextInListOrder() {
  while (next_row_ < request_.packages.size()) {
    const std::size_t row = next_row_++;
    if (request_.packages.ticked(row)) return &AddJob(row);
  }
  return nullptr;
}

void CompileRun::StartWhatMay() {
  if (!parallel_) {
    // A compiler that could not start has ended at once: the next one goes.
    while (running_ == 0 && !Stopped())
      if (Job* job = NextInListOrder()) Start(*job);
      else break;
    return;
  }
  // A package that cannot start is done at once, which may make others ready.
  while (running_ < compilers_ && !Stopped())
    if (auto next = plan_->Next()) Start(jobs_[*next]);
    else break;
}

void CompileRun::Start(Job& job) {
  job.state = Job::State::Running;
  ++running_;
  if (plan_) plan_->Started(static_cast<std::size_t>(&job - jobs_.data()));
  reporter_.Write(jobs_, false);
  for (std::size_t k = 0; k < job.outputs.size(); ++k) {
    FileInfo info;
    if (s_.fs.Inspect(job.outputs[k], &info)) job.before[k] = info;
  }
  job.started = Clock::now();
  const std::string line =
      prefix_ + " " + QuoteIfBlank(s_.fs.ShortPath(job.projectFolder) + job.result.file);
  if (!job.compiler.Start(*children_, line)) {
    job.result.startError = "无法启动编译器 " + compiler_ + ": " + s_.processes.LastError();
    Finish(job);
  }
}

std::size_t CompileRun::PollAll(std::vector<Job*>* ended) {
  std::size_t got = 0;
  for (Job& job : jobs_) {
    if (job.state != Job::State::Running) continue;
    got += job.compiler.Poll();
    if (job.compiler.ended() && ended) ended->push_back(&job);
  }
  return got;
}

// One pass while compilers run: their output read, those that ended
// finished, the outside's turn.
void CompileRun::Pass() {
  std::vector<Job*> ended;
  // While output flows, read again at once; otherwise sleep until a
  // compiler ends, a message arrives or a short while has passed.
  if (PollAll(&ended) == 0 && ended.empty()) {
    children_->Wait(20);
    PollAll(&ended);
  }
  s_.Pump();
  for (Job* job : ended) Finish(*job);
  if (running_ > 0 && s_.host.EndRequested()) EndAll();
}

// The program is closing and its grace period is over: every running
// compiler is ended with everything it started. The outside keeps its turn
// while they go; one that does not go in time is left to the system (the
// set's clean-up ends it with its job).
void CompileRun::EndAll() {
  std::vector<Job*> running, ended;
  for (Job& job : jobs_) {
    if (job.state != Job::State::Running) continue;
    // A compiler that has ended since the last look finishes as it ended:
    // its outputs are whole.
    job.compiler.Poll();
    if (job.compiler.ended()) {
      ended.push_back(&job);
      continue;
    }
    job.compiler.Terminate();
    job.endedByProgram = true;
    running.push_back(&job);
  }
  for (Job* job : ended) Finish(*job);
  const auto deadline = Clock::now() + std::chrono::milliseconds(kEndWaitMs);
  auto all_gone = [&] {
    return std::all_of(running.begin(), running.end(), [](Job* j) { return j->compiler.ended(); });
  };
  while (!all_gone() && Clock::now() < deadline) {
    children_->Wait(50);
    PollAll(nullptr);
    s_.Pump();
  }
  for (Job* job : running) Finish(*job);
}

// After a compile that did not succeed: the package files its compiler
// wrote since it started may be cut short (it was ended, it crashed, the
// disk filled up), and such a .bpl must never be copied or registered.
// Files it did not touch stay.
void CompileRun::RemoveWrittenOutputs(Job& job) {
  const bool ended = job.result.outcome == PackageOutcome::Ended;
  for (std::size_t i = 0; i < job.outputs.size(); ++i) {
    const std::string& path = job.outputs[i];
    FileInfo now;
    if (!s_.fs.Inspect(path, &now) || Unchanged(job.before[i], now)) continue;
    if (s_.fs.RemoveFile(path))
      job.notes.push_back((ended ? "编译器被中止, 已删除可能不完整的文件: " : "已删除编译失败时写下的文件: ") + path);
    else
      job.notes.push_back((ended ? "编译器被中止, 无法删除可能不完整的文件: " : "无法删除编译失败时写下的文件: ") +
                          path + ": " + s_.fs.LastError());
  }
}

void CompileRun::Finish(Job& job) {
  job.state = Job::State::Done;
  --running_;
  if (plan_) plan_->Done(static_cast<std::size_t>(&job - jobs_.data()));
  PackageResult& r = job.result;
  r.time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - job.started);
  if (!r.startError.empty()) {
    r.outcome = PackageOutcome::Failed;
    job.text = r.startError;
  } else {
    r.exitCode = job.compiler.exitCode();
    job.text = OutputText(job.compiler.bytes);
    const CompilerMessages messages = ScanCompilerOutput(job.text);
    r.firstError = messages.firstError;
    r.warnings = messages.warnings;
    r.hints = messages.hints;
    FileInfo bpl;
    const bool fresh = s_.fs.Inspect(job.outputs[0], &bpl) && !Unchanged(job.before[0], bpl);
    // A compiler that ended by itself just before the program ended it
    // reports its own success.
    const bool ended = job.endedByProgram && r.exitCode != 0;
    if (ended) r.outcome = PackageOutcome::Ended;
    else if (r.exitCode == 0 && fresh) r.outcome = PackageOutcome::Compiled;
    else if (!job.projectFound) r.outcome = PackageOutcome::ProjectNotFound;
    else r.outcome = PackageOutcome::Failed;
    if (r.outcome != PackageOutcome::Compiled) RemoveWrittenOutputs(job);
  }
  job.compiler = CapturedChild();  // its handles and output go now
  reporter_.Write(jobs_, false);
  reporter_.Finished(job);
}

CompileResult CompileRun::Run() {
  const auto begun = Clock::now();
  reporter_.Open(parallel_, compilers_);

  // One walk of the library finds every package project; each look-up gives
  // the hit a full search of the tree would give.
  projects_.Build(s_.fs, request_.target.library, ".dpk", [this] { s_.Pump(); });
  s_.LogWalkFailures(projects_);
  if (parallel_) PlanAll();

  for (;;) {
    StartWhatMay();
    if (running_ == 0) break;
    Pass();
  }
  reporter_.Write(jobs_, true);

  CompileResult r;
  r.started = true;
  r.next = StateEvent::CompileEnded;
  r.compilers = compilers_;
  r.stopped = Stopped();
  r.time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun);
  // One at a time, the ticked rows the run never reached were not started.
  if (!parallel_)
    for (; next_row_ < request_.packages.size(); ++next_row_)
      if (request_.packages.ticked(next_row_)) AddJob(next_row_);
  for (const Job& job : jobs_) r.packages.push_back(job.result);
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

void StopCompile(Session& s) {
  s.host.Running(false);
  s.Log(" ");
  s.Log("=====================编译中止=====================");
}

}  // namespace kestrin
