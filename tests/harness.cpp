#include "tests/harness.h"

#include <thread>

#include <chrono>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/panes.h"
#include "platform/text.h"
#include "targets/library_folder.h"
#include "tools/mklib/samplelib.h"
#include "tools/pewriter/package_writer.h"

namespace kestrin::test {

FakeView::FakeView() {
  FixedList start = BuildOrder(IdeFamily::Delphi);
  LoadBuildList(std::vector<std::string>(start.begin(), start.end()));
}

std::string FakeView::LogText() {
  std::string s;
  for (const auto& e : log) s += LogEntry(e);
  return s;
}

void FakeView::LoadBuildList(const std::vector<std::string>& r) {
  rows = r;
  ticks.assign(rows.size(), false);
}

std::vector<std::string> FakeView::Lines() { return SplitLines(LogText()); }

std::vector<int> FakeView::Ticked() {
  std::vector<int> t;
  for (std::size_t i = 0; i < ticks.size(); ++i)
    if (ticks[i]) t.push_back(static_cast<int>(i));
  return t;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else {
      cur += text[i];
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

std::string FakeShell::ExpandEnvironment(std::string_view text) {
  return ExpandPercentNames(text, [this](const std::string& name) -> std::optional<std::string> {
    for (const auto& [n, value] : environment)
      if (EqualsNoCase(n, name)) return value;
    return std::nullopt;
  });
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kestrin-XXXXXX").string();
  char* made = mkdtemp(tmpl.data());
  root_ = made ? made : tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Read-only folders and files would stop the removal.
  for (auto it = std::filesystem::recursive_directory_iterator(root_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(root_, ec);
}

void TempDir::Write(const std::string& rel, const std::string& content) const {
  std::filesystem::path p = std::filesystem::path(root_) / rel;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << content;
}

bool TempDir::Exists(const std::string& rel) const {
  return std::filesystem::exists(std::filesystem::path(root_) / rel);
}

std::string TempDir::Read(const std::string& rel) const {
  std::ifstream f(std::filesystem::path(root_) / rel, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool TestFileSystem::Fails(std::string_view path) {
  for (const auto& [prefix, err] : injected_)
    if (path.size() >= prefix.size() && EqualsNoCase(path.substr(0, prefix.size()), prefix)) {
      injected_error_ = err;
      return true;
    }
  injected_error_ = 0;
  return false;
}

std::string TestFileSystem::SystemFolder() {
  if (system_folder_.empty()) return PosixFileSystem::SystemFolder();
  injected_error_ = 0;
  return system_folder_;
}

std::string TestFileSystem::LastError() {
  return injected_error_ ? std::strerror(injected_error_) : PosixFileSystem::LastError();
}

std::unique_ptr<File> TestFileSystem::CreateWrite(std::string_view p) {
  if (Fails(p)) return nullptr;
  auto file = PosixFileSystem::CreateWrite(p);
  if (!file) return file;
  for (const std::string& prefix : unflushable_) {
    if (p.size() < prefix.size() || !EqualsNoCase(p.substr(0, prefix.size()), prefix)) continue;
    struct Unflushable : File {
      std::unique_ptr<File> inner;
      int* error;
      long long Read(char* b, std::size_t n) override { return inner->Read(b, n); }
      long long ReadAt(long long o, char* b, std::size_t n) override { return inner->ReadAt(o, b, n); }
      bool Write(std::string_view s) override { return inner->Write(s); }
      long long Size() override { return inner->Size(); }
      bool Flush() override {
        *error = EIO;
        return false;
      }
      bool Close() override { return inner->Close(); }
    };
    auto f = std::make_unique<Unflushable>();
    f->inner = std::move(file);
    f->error = &injected_error_;
    return f;
  }
  return file;
}

bool TestFileSystem::ListDir(std::string_view p, std::vector<DirEntry>* out) {
  out->clear();
  return !Fails(p) && PosixFileSystem::ListDir(p, out);
}

namespace {

bool Under(const std::vector<std::string>& prefixes, std::string_view path) {
  const std::string p = ToLowerAscii(Trim(path));
  for (const std::string& prefix : prefixes)
    if (p.rfind(prefix, 0) == 0) return true;
  return false;
}

constexpr std::string_view kDenied = "Access is denied.";

// A key that exists but may not be opened as asked.
class RefusedKey : public RegistryKey {
 public:
  bool IsOpen() const override { return false; }
  bool Missing() const override { return false; }
  bool HasValue(std::string_view) override { return false; }
  RegRead ReadString(std::string_view, std::string* out, bool*) override {
    out->clear();
    return RegRead::Failed;
  }
  bool ValueNames(std::vector<std::string>* out) override {
    out->clear();
    return false;
  }
  bool WriteString(std::string_view, std::string_view, bool) override { return false; }
  bool DeleteValue(std::string_view) override { return false; }
  std::string LastError() const override { return std::string(kDenied); }
};

// A key whose values cannot be read or deleted.
class FailingKey : public RegistryKey {
 public:
  explicit FailingKey(std::unique_ptr<RegistryKey> inner) : inner_(std::move(inner)) {}
  bool IsOpen() const override { return inner_->IsOpen(); }
  bool Missing() const override { return inner_->Missing(); }
  bool HasValue(std::string_view name) override { return inner_->HasValue(name); }
  RegRead ReadString(std::string_view, std::string* out, bool*) override {
    out->clear();
    return RegRead::Failed;
  }
  bool ValueNames(std::vector<std::string>* out) override { return inner_->ValueNames(out); }
  bool WriteString(std::string_view name, std::string_view data, bool expandable) override {
    return inner_->WriteString(name, data, expandable);
  }
  bool DeleteValue(std::string_view) override { return false; }
  std::string LastError() const override { return std::string(kDenied); }

 private:
  std::unique_ptr<RegistryKey> inner_;
};

std::string KeyPrefix(std::string_view path) {
  std::string p = ToLowerAscii(Trim(path));
  while (!p.empty() && p.back() == '\\') p.pop_back();
  return p;
}

}  // namespace

void TestRegistry::DenyWrites(std::string_view path) {
  CreateKey(path);
  denied_.push_back(KeyPrefix(path));
}

void TestRegistry::FailValueAccess(std::string_view path) {
  CreateKey(path);
  failing_.push_back(KeyPrefix(path));
}

std::unique_ptr<RegistryKey> TestRegistry::Open(std::string_view path, RegAccess access) {
  if (access == RegAccess::ReadWrite && Under(denied_, path)) return std::make_unique<RefusedKey>();
  auto key = MemoryRegistry::Open(path, access);
  if (Under(failing_, path)) return std::make_unique<FailingKey>(std::move(key));
  return key;
}

namespace {

// A child that, asked to end, first ends by itself: the race of a compiler
// that exits between the program's last look and its end.
class ExitingFirstChild : public ChildProcess {
 public:
  explicit ExitingFirstChild(ChildProcess& inner) : inner_(inner) {}
  std::size_t ReadAvailable(std::string* out) override { return inner_.ReadAvailable(out); }
  bool Ended() override { return inner_.Ended(); }
  void Terminate() override {
    while (!inner_.Ended()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    inner_.Terminate();
  }
  int ExitCode() override { return inner_.ExitCode(); }
  ChildProcess& inner_;
};

// The real set, with its command lines recorded and its children counted
// while the caller holds them.
class RecordingSet : public ChildSet {
 public:
  RecordingSet(RecordingLauncher& owner, std::unique_ptr<ChildSet> inner)
      : owner_(owner), inner_(std::move(inner)) {}
  ~RecordingSet() override { owner_.alive -= held_; }
  ChildProcess* Start(std::string_view line) override {
    if (owner_.onStarting) owner_.onStarting();
    {
      std::lock_guard<std::mutex> lock(owner_.mutex);
      owner_.lines.emplace_back(line);
    }
    const auto begun = std::chrono::steady_clock::now();
    ChildProcess* child = inner_->Start(line);
    owner_.startSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
    if (!child) return nullptr;
    ++held_;
    owner_.mostAlive = std::max(owner_.mostAlive, ++owner_.alive);
    if (owner_.onStart) owner_.onStart(*child);
    if (!owner_.exitBeforeTerminate) return child;
    racing_.push_back(std::make_unique<ExitingFirstChild>(*child));
    return racing_.back().get();
  }
  void Remove(ChildProcess* child) override {
    --held_;
    --owner_.alive;
    for (auto& r : racing_)
      if (r.get() == child) child = &r->inner_;
    inner_->Remove(child);
  }
  void Wait(int timeout_ms) override { inner_->Wait(timeout_ms); }
  void Wake() override { inner_->Wake(); }

 private:
  RecordingLauncher& owner_;
  std::unique_ptr<ChildSet> inner_;
  std::vector<std::unique_ptr<ExitingFirstChild>> racing_;
  int held_ = 0;
};

}  // namespace

std::unique_ptr<ChildSet> RecordingLauncher::NewChildSet() {
  return std::make_unique<RecordingSet>(*this, real.NewChildSet());
}

std::unique_ptr<RegistryKey> TestRegistry::Create(std::string_view path) {
  if (Under(denied_, path)) return std::make_unique<RefusedKey>();
  return MemoryRegistry::Create(path);
}

TestApp::TestApp() : app(Platform{registry, fs, processes, shell}, view) {
  app.clockMs = [] { return std::uint64_t(0); };
  view.onTicked = [this](int row, bool on) { app.OnTicked(static_cast<std::size_t>(row), on); };
}

void TestApp::RegisterIde(int index, const std::string& root_dir, const TempDir& dir) {
  const std::string exe = "ide" + std::to_string(index) + "/bin/ide.exe";
  dir.Write(exe, "MZ");
  std::string base(kIdeProfiles[static_cast<std::size_t>(index)].baseKey);
  registry.Set(base, "App", RegType::Sz, dir.Root() + exe);
  registry.Set(base, "RootDir", RegType::Sz, root_dir);
}

void TestApp::PlaceCompiler(const TempDir& dir) {
  std::filesystem::create_directories(dir.Path() / "ide" / "bin");
  std::filesystem::copy_file(ToolsDir() + "/dcc32.exe", dir.Path() / "ide" / "bin" / "dcc32.exe",
                             std::filesystem::copy_options::overwrite_existing);
}

void TestApp::SetUpLibrary(const TempDir& dir, int ide_index, std::vector<std::string> suffixes) {
  SampleLibraryOptions o;
  o.root = dir.Root() + "lib";
  o.suffixes = std::move(suffixes);
  std::string error;
  if (!GenerateSampleLibrary(fs, o, nullptr, &error)) throw std::runtime_error(error);
  PlaceCompiler(dir);
  // The release's own packages, where the stand-in compiler looks for them.
  const std::string number =
      pe::IdePackageNumber(std::string(kIdeProfiles[static_cast<std::size_t>(ide_index)].shortSuffix));
  if (!pe::WriteIdePackages(dir.Path() / "ide", number, &error)) throw std::runtime_error(error);
  RegisterIde(ide_index, dir.Root() + "ide", dir);
  shell.folderAnswers.push_back(std::nullopt);
  Start();
  app.SetLibraryFolder(NormalizeFolderPath(dir.Root() + "lib"));
  Choose(ide_index);
  shell.folderAnswers.clear();
}

void TestApp::StartWithRelease(const TempDir& dir, int ide_index) {
  dir.Write("lib/XP Theme Manager/x", "");
  std::filesystem::create_directories(dir.Path() / "sys");
  fs.SetSystemFolder(dir.Root() + "sys");
  shell.appDataFolder = dir.Root() + "appdata";
  RegisterIde(ide_index, dir.Root() + "ide", dir);
  shell.folderAnswers.push_back(std::nullopt);
  Start();
  app.SetLibraryFolder(dir.Root() + "lib\\");
  Choose(ide_index);
}

bool FakeView::WaitForWake(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(wake_mutex_);
  const bool woken = wake_.wait_for(lock, timeout, [&] { return woken_; });
  woken_ = false;
  return woken;
}

void TestApp::Settle() {
  while (app.busy) {
    if (!view.WaitForWake()) throw std::runtime_error("the command told nothing for two minutes");
    app.HandleEvents();
    if (view.onEvents) view.onEvents();
  }
}

std::string ToolsDir() {
  const char* d = std::getenv("KESTRIN_TOOLS_DIR");
  return d ? d : KESTRIN_TOOLS_DIR;
}

}  // namespace kestrin::test
