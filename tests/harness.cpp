#include "tests/harness.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "app/panes.h"
#include "targets/ide_profile.h"
#include "targets/library_folder.h"
#include "tools/mklib/samplelib.h"

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

TestApp::TestApp() : app(Platform{registry, fs, processes, shell}, view) {
  app.clockMs = [] { return std::uint64_t(0); };
}

void TestApp::RegisterIde(int index, const std::string& root_dir, const TempDir& dir) {
  const std::string exe = "ide" + std::to_string(index) + "/bin/ide.exe";
  dir.Write(exe, "MZ");
  std::string base(kIdeProfiles[index].baseKey);
  registry.Set(base, "App", RegType::Sz, dir.Root() + exe);
  registry.Set(base, "RootDir", RegType::Sz, root_dir);
}

void TestApp::SetUpLibrary(const TempDir& dir, int ide_index, std::vector<std::string> suffixes) {
  SampleLibraryOptions o;
  o.root = dir.Root() + "lib";
  o.suffixes = std::move(suffixes);
  std::string error;
  if (!GenerateSampleLibrary(fs, o, nullptr, &error)) throw std::runtime_error(error);
  std::filesystem::create_directories(dir.Path() / "ide" / "bin");
  std::filesystem::copy_file(ToolsDir() + "/dcc32.exe", dir.Path() / "ide" / "bin" / "dcc32.exe",
                             std::filesystem::copy_options::overwrite_existing);
  RegisterIde(ide_index, dir.Root() + "ide", dir);
  shell.folderAnswers.push_back(std::nullopt);
  FormShow(app);
  view.path.clear();
  app.SetPathText(NormalizeFolderPath(dir.Root() + "lib"));
  Choose(ide_index);
  shell.folderAnswers.clear();
}

void TestApp::StartWithRelease(const TempDir& dir, int ide_index) {
  dir.Write("lib/XP Theme Manager/x", "");
  std::filesystem::create_directories(dir.Path() / "sys");
  fs.SetSystemFolder(dir.Root() + "sys");
  RegisterIde(ide_index, dir.Root() + "ide", dir);
  shell.folderAnswers.push_back(std::nullopt);
  FormShow(app);
  app.SetPathText(dir.Root() + "lib\\");
  Choose(ide_index);
}

std::string ToolsDir() {
  const char* d = std::getenv("KESTRIN_TOOLS_DIR");
  return d ? d : KESTRIN_TOOLS_DIR;
}

}  // namespace kestrin::test
