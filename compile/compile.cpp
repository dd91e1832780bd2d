#include "compile/compile.h"

#include <algorithm>
#include <array>
#include <map>
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

int CompileReport::Count(PackageOutcome outcome) const {
  return static_cast<int>(std::count_if(packages.begin(), packages.end(),
                                        [&](const PackageResult& p) { return p.outcome == outcome; }));
}

namespace {

// The compiler's command line up to the package file: the output folder
// for packages, units and symbol files, and the source search path (the
// output folder three times, then every product's Sources) for units and
// resources. Each path goes on it in its short form; where a volume has no
// short names, a path with a blank is quoted instead.
std::string CompilerCommandPrefix(Session& s, const std::string& out) {
  const std::string out_arg = CommandLinePath(s.fs, out);
  std::string search_path = out_arg + ";" + out_arg + ";" + out_arg;
  for (std::string_view product : kProductSourceFolders) {
    search_path += ";";
    search_path += CommandLinePath(s.fs, ProductSourceFolder(s.ctx, product));
    s.Pump();  // short names can be slow to come by; the window keeps answering
  }
  const std::string bin = s.fs.ShortPath(s.ctx.ideBinDir);
  return QuoteIfBlank(bin + "\\dcc32.exe") + " -LE" + out_arg + " -U" + search_path + " -R" +
         search_path + " -N" + out_arg + " -Q -H -W -$D- -$L- -$Y- -LN" + out_arg + " -M ";
}

std::string Duration(std::chrono::milliseconds time) {
  const long long seconds = (time.count() + 500) / 1000;
  return std::to_string(seconds / 60) + " 分 " + std::to_string(seconds % 60) + " 秒";
}

// One ticked package of a run, from waiting to its block in the log.
struct Job {
  enum class State { Waiting, Running, Done };
  int row = 0;                 // in the build list
  std::string projectFolder;   // its project's folder (or, when it has none, the one before's)
  bool projectFound = false;
  std::vector<std::size_t> waitsFor;  // earlier jobs it requires
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

class CompileRun {
 public:
  CompileRun(Session& s, const CompileOptions& options, std::string prefix, std::string compiler)
      : s_(s),
        parallel_(options.parallel),
        compilers_(options.parallel ? std::clamp(options.compilers > 0
                                                     ? options.compilers
                                                     : s.processes.UsableProcessors(),
                                                 1, kMaxCompilers)
                                    : 1),
        prefix_(std::move(prefix)),
        compiler_(std::move(compiler)) {}

  void Run(CompileReport* report);

 private:
  Job& AddJob(int row);
  void PlanAll();
  Job* NextInListOrder();
  void StartWhatMay();
  void Start(Job& job);
  std::size_t PollAll(std::vector<Job*>* ended);
  void Pass();
  void EndAll();
  void Finish(Job& job);
  void WriteBlocks(bool final_pass);
  void RemoveCutShortOutputs(Job& job);
  void Summarize(CompileReport* report, Clock::time_point begun);

  Session& s_;
  const bool parallel_;
  const int compilers_;
  const std::string prefix_;
  const std::string compiler_;  // the compiler's path, as the log names it
  FileIndex projects_;
  std::vector<Job> jobs_;
  std::string last_project_folder_;
  int next_row_ = 0;     // one at a time: the next row of the list to look at
  std::size_t head_ = 0;  // the first job whose block is not written yet
  int running_ = 0;
  int gauge_ = 0;
};

Job& CompileRun::AddJob(int row) {
  Job& job = jobs_.emplace_back();
  job.row = row;
  job.result.package = Trim(s_.view.BuildItem(row));
  job.result.file = PackageFileName(job.result.package, s_.ctx.ideShortSuffix, ".dpk");
  // A project that is nowhere in the tree is handed to the compiler in the
  // folder of the previous package's project, and the compiler says so.
  if (const FoundFile* project = projects_.Find(job.result.file)) {
    job.projectFound = true;
    last_project_folder_ = FolderPart(project->path);
  }
  job.projectFolder = last_project_folder_;
  const std::string out = OutputFolder(s_.ctx);
  job.outputs = {PackageFile(out, job.result.package, s_.ctx.ideShortSuffix, ".bpl"),
                 PackageFile(out, job.result.package, s_.ctx.ideShortSuffix, ".dcp")};
  return job;
}

// Several at once: every ticked package is known at the start, and each
// waits for the ticked packages before it that its project requires. One
// whose project cannot be found or read waits for all of them.
void CompileRun::PlanAll() {
  const int count = s_.view.BuildCount();
  for (int row = 0; row < count; ++row)
    if (s_.view.IsTicked(row)) AddJob(row);
  for (std::size_t i = 0; i < jobs_.size(); ++i) {
    Job& job = jobs_[i];
    std::optional<std::vector<std::string>> required;
    std::string text;
    if (job.projectFound && ReadWholeFile(s_.fs, job.projectFolder + job.result.file, &text))
      required = ReadRequiredPackages(text);
    for (std::size_t k = 0; k < i; ++k) {
      const std::string name = PackageFileName(jobs_[k].result.package, s_.ctx.ideShortSuffix, "");
      const bool needed =
          !required || std::any_of(required->begin(), required->end(),
                                   [&](const std::string& r) { return EqualsNoCase(r, name); });
      if (needed) job.waitsFor.push_back(k);
    }
    if (i % 16 == 15) s_.Pump();
  }
}

// One at a time: the ticks are read as the run reaches each row, so a tick
// set or cleared during the run on a row not yet reached counts.
Job* CompileRun::NextInListOrder() {
  const int count = s_.view.BuildCount();
  while (next_row_ < count) {
    const int row = next_row_++;
    if (s_.view.IsTicked(row)) return &AddJob(row);
  }
  return nullptr;
}

void CompileRun::StartWhatMay() {
  if (!parallel_) {
    // A compiler that could not start has ended at once: the next one goes.
    while (running_ == 0 && !s_.ctx.stopRequested)
      if (Job* job = NextInListOrder()) Start(*job);
      else break;
    return;
  }
  // Among the packages that may start, the one earliest in the list first.
  // They wait only for packages before them, so one pass in list order
  // also starts those whose last dependency could not even start.
  for (std::size_t i = 0; i < jobs_.size() && running_ < compilers_ && !s_.ctx.stopRequested; ++i) {
    Job& job = jobs_[i];
    if (job.state != Job::State::Waiting) continue;
    const bool ready = std::all_of(job.waitsFor.begin(), job.waitsFor.end(), [&](std::size_t k) {
      return jobs_[k].state == Job::State::Done;
    });
    if (ready) Start(job);
  }
}

void CompileRun::Start(Job& job) {
  job.state = Job::State::Running;
  ++running_;
  WriteBlocks(false);
  for (std::size_t k = 0; k < job.outputs.size(); ++k) {
    FileInfo info;
    if (s_.fs.Inspect(job.outputs[k], &info)) job.before[k] = info;
  }
  job.started = Clock::now();
  const std::string line =
      prefix_ + " " + QuoteIfBlank(s_.fs.ShortPath(job.projectFolder) + job.result.file);
  if (!job.compiler.Start(s_.processes, line)) {
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
// finished, the window's messages handled.
void CompileRun::Pass() {
  std::vector<Job*> ended;
  // While output flows, read again at once; otherwise sleep until a
  // compiler ends, a message arrives or a short while has passed.
  if (PollAll(&ended) == 0 && ended.empty()) {
    std::vector<ChildProcess*> children;
    for (Job& job : jobs_)
      if (job.state == Job::State::Running) children.push_back(job.compiler.process());
    s_.processes.WaitAny(children, 20);
    PollAll(&ended);
  }
  s_.Pump();
  for (Job* job : ended) Finish(*job);
  if (running_ > 0 && s_.endCompilerNow && s_.endCompilerNow()) EndAll();
}

// The program is closing and its grace period is over: every running
// compiler is ended with everything it started. The window keeps answering
// while they go; one that does not go in time is left to the system (the
// launcher's clean-up ends it with its job).
void CompileRun::EndAll() {
  std::vector<Job*> running;
  for (Job& job : jobs_)
    if (job.state == Job::State::Running) {
      job.compiler.Terminate();
      job.endedByProgram = true;
      running.push_back(&job);
    }
  const auto deadline = Clock::now() + std::chrono::milliseconds(kEndWaitMs);
  auto all_gone = [&] {
    return std::all_of(running.begin(), running.end(), [](Job* j) { return j->compiler.ended(); });
  };
  while (!all_gone() && Clock::now() < deadline) {
    std::vector<ChildProcess*> children;
    for (Job* job : running)
      if (!job->compiler.ended()) children.push_back(job->compiler.process());
    s_.processes.WaitAny(children, 50);
    PollAll(nullptr);
    s_.Pump();
  }
  for (Job* job : running) Finish(*job);
}

// After the compiler was ended part-way: the package files it wrote since
// it started may be cut short, and a truncated .bpl must not pass the
// verification. Files it did not touch stay.
void CompileRun::RemoveCutShortOutputs(Job& job) {
  for (std::size_t i = 0; i < job.outputs.size(); ++i) {
    const std::string& path = job.outputs[i];
    FileInfo now;
    if (!s_.fs.Inspect(path, &now)) continue;
    const auto& before = job.before[i];
    if (before && before->modified == now.modified && before->size == now.size) continue;
    if (s_.fs.RemoveFile(path))
      job.notes.push_back("编译器被中止, 已删除可能不完整的文件: " + path);
    else
      job.notes.push_back("编译器被中止, 无法删除可能不完整的文件: " + path + ": " + s_.fs.LastError());
  }
}

void CompileRun::Finish(Job& job) {
  job.state = Job::State::Done;
  --running_;
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
    const bool fresh = s_.fs.Inspect(job.outputs[0], &bpl) &&
                       !(job.before[0] && job.before[0]->modified == bpl.modified &&
                         job.before[0]->size == bpl.size);
    if (job.endedByProgram) r.outcome = PackageOutcome::Ended;
    else if (r.exitCode == 0 && fresh) r.outcome = PackageOutcome::Compiled;
    else if (!job.projectFound) r.outcome = PackageOutcome::ProjectNotFound;
    else r.outcome = PackageOutcome::Failed;
    if (job.endedByProgram) RemoveCutShortOutputs(job);
  }
  job.compiler = CapturedChild();  // its handles and output go now
  WriteBlocks(false);
  s_.Pump();
  s_.view.SetCaption("Kestrin - 正在编译 " + r.file);
  s_.TrimWorkingSetAndPump();
  gauge_ = std::max(gauge_, job.row);
  s_.view.SetGauge(gauge_, s_.view.BuildCount() - 1);
}

// Blocks go into the log whole and in list order: a package's "编译：" line
// as soon as it runs and every package before it is written, its output
// once it has ended. The final pass writes what is left after a stop,
// passing over the packages that never started.
void CompileRun::WriteBlocks(bool final_pass) {
  for (; head_ < jobs_.size(); ++head_) {
    Job& job = jobs_[head_];
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

void CompileRun::Summarize(CompileReport* report, Clock::time_point begun) {
  CompileReport r;
  r.compilers = compilers_;
  r.stopped = s_.ctx.stopRequested;
  r.time = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begun);
  // One at a time, the ticked rows the run never reached were not started.
  if (!parallel_)
    for (int count = s_.view.BuildCount(); next_row_ < count; ++next_row_)
      if (s_.view.IsTicked(next_row_)) AddJob(next_row_);
  std::map<std::string, std::string> failures;
  for (Job& job : jobs_) {
    r.packages.push_back(job.result);
    const PackageResult& p = job.result;
    if (p.outcome == PackageOutcome::Failed || p.outcome == PackageOutcome::ProjectNotFound)
      failures[ToLowerAscii(p.package)] = p.Reason();
  }
  const int total = static_cast<int>(r.packages.size());
  const int not_started = r.Count(PackageOutcome::NotStarted);
  s_.Log("编译结果: 共 " + std::to_string(total) + " 个包, 成功 " +
         std::to_string(r.Count(PackageOutcome::Compiled)) + " 个, 失败 " +
         std::to_string(r.Count(PackageOutcome::Failed) + r.Count(PackageOutcome::ProjectNotFound)) +
         " 个, 未编译 " + std::to_string(not_started + r.Count(PackageOutcome::Ended)) + " 个; 用时 " +
         Duration(r.time));
  for (const PackageResult& p : r.packages)
    if (p.outcome == PackageOutcome::Failed || p.outcome == PackageOutcome::ProjectNotFound)
      s_.Log("失败: " + p.file + " — " + p.Reason());
  if (r.stopped && not_started > 0)
    s_.Log("编译已中止: " + std::to_string(not_started) + " 个包没有开始编译.");
  s_.ctx.lastCompileFailures[s_.ctx.ideLongSuffix] = std::move(failures);
  if (report) *report = std::move(r);
}

void CompileRun::Run(CompileReport* report) {
  const auto begun = Clock::now();
  View& v = s_.view;
  v.ShowLogPage();
  s_.Log(kLogOpen);
  s_.Log("编译组件...");
  if (parallel_) s_.Log("并行编译: 最多同时运行 " + std::to_string(compilers_) + " 个编译器");
  v.SetGauge(0, v.BuildCount() - 1);

  // One walk of the library finds every package project; each look-up gives
  // the hit a full search of the tree would give.
  projects_.Build(s_.fs, s_.ctx.libraryRoot, ".dpk", [this] { s_.Pump(); });
  s_.LogWalkFailures(projects_);
  if (parallel_) PlanAll();

  for (;;) {
    StartWhatMay();
    if (running_ == 0) break;
    Pass();
  }
  WriteBlocks(true);
  Summarize(report, begun);
}

}  // namespace

StateEvent Compile(Session& s, const CompileOptions& options, CompileReport* report) {
  if (!RequireLibraryFolder(s) || !ConfirmIdeClosed(s)) return StateEvent::None;
  // Never a compiler named by a relative or drive-rooted path: Windows would
  // look for it in the current folder or the drive's root.
  const std::string compiler = JoinPath(s.ctx.ideBinDir, "dcc32.exe");
  if (!s.fs.IsFullyQualified(s.ctx.ideBinDir) || !s.fs.FileExists(compiler)) {
    s.view.ShowMessage("找不到编译器: " + compiler, kAppTitle, MessageIcon::Error);
    return StateEvent::None;
  }
  s.ctx.stopRequested = false;
  s.view.SetRunningLook(true);
  try {
    const std::string library = s.ctx.libraryRoot + "Library";
    if (!s.fs.DirExists(library)) s.fs.MakeDir(library);
    const std::string out = OutputFolder(s.ctx);
    if (!s.fs.DirExists(out)) s.fs.MakeDir(out);
    CompileRun run(s, options, CompilerCommandPrefix(s, out), compiler);
    run.Run(report);
  } catch (...) {
    // An error part-way leaves the window as after a stop; the error itself
    // is shown by the caller.
    s.view.SetCaption(kAppTitle);
    s.view.SetRunningLook(false);
    throw;
  }
  s.view.SetCaption(kAppTitle);
  s.view.SetRunningLook(false);
  s.LogDone();
  return StateEvent::CompileEnded;
}

void StopCompile(Session& s) {
  s.view.SetRunningLook(false);
  s.ctx.stopRequested = true;
  s.Log(" ");
  s.Log("=====================编译中止=====================");
}

}  // namespace kestrin
