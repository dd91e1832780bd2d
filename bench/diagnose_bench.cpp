// Diagnose benchmark: the sample library's 171 Delphi 7 packages compiled
// and installed, the output folder on the user's PATH, and 100 packages of
// other vendors registered beside them (each needing the IDE's packages and
// one of the library's). Prints the check's wall time for each of a few
// runs. Then the module
// reader over two crafted files (time and peak memory of one read), the
// check again with both registered, the verify command over the 171
// compiled packages, and the text readers over texts of many names.
//
//   kestrin_diagnose_bench [--foreign N] [--runs N] [--path-folders N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/controls.h"
#include "ide/diagnose.h"
#include "ide/install.h"
#include "platform/pe_module.h"
#include "compile/build_check.h"
#include "compile/package_requires.h"
#include "compile/verify.h"
#include "ide/folder_list.h"
#include "tests/crafted_modules.h"
#include "tests/harness.h"
#include "tools/pewriter/package_writer.h"

using namespace kestrin;
using Clock = std::chrono::steady_clock;

namespace {

// A line of /proc/self/status, in kB.
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}

// Runs `f` and returns its wall time and the process's peak resident
// memory while it ran, above what it held before.
template <class F>
std::pair<double, long> Measure(F&& f) {
  { std::ofstream("/proc/self/clear_refs") << "5"; }  // the peak starts again from now
  const long before = StatusKb("VmRSS:");
  const auto start = Clock::now();
  f();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return {seconds, StatusKb("VmHWM:") - before};
}

}  // namespace

int main(int argc, char** argv) {
  int foreign = 100, runs = 3, path_folders = 20;
  for (int i = 1; i + 1 < argc; ++i) {
    if (!std::strcmp(argv[i], "--foreign")) foreign = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--path-folders")) path_folders = std::atoi(argv[i + 1]);
  }
  test::TempDir dir;
  test::TestApp t;
  t.SetUpLibrary(dir, 1, {"D7"});
  t.Click(ctl::kSelectAllButton);
  t.Click(ctl::kCompileButton);
  const std::string base(kIdeProfiles[1].baseKey);
  const std::string out = dir.Root() + "lib\\Library\\Delphi7";
  std::filesystem::create_directories(dir.Path() / "sys");
  t.fs.SetSystemFolder(dir.Root() + "sys");
  dir.Write("ide/bin/delphi32.exe", "MZ");
  t.registry.Set(base, "App", RegType::Sz, dir.Root() + "ide\\bin\\delphi32.exe");
  // A PATH of the usual length: folders of other programs, most of them
  // real, before the output folder.
  std::string path;
  for (int i = 0; i < path_folders; ++i) {
    const std::string rel = "programs/p" + std::to_string(i);
    if (i % 4 != 3) dir.Write(rel + "/tool.dll", "MZ");
    path += dir.Root() + "programs\\p" + std::to_string(i) + ";";
  }
  t.registry.Set("Environment", "Path", RegType::ExpandSz, path + out);
  t.registry.CreateKey(base + "Library");
  t.registry.CreateKey(base + "Known Packages");
  if (!Install(t.session(), {t.target()}).started) {
    std::fprintf(stderr, "install did not run\n");
    return 1;
  }
  const FixedList runtime = RuntimePackages(IdeFamily::Delphi);
  for (int i = 0; i < foreign; ++i) {
    pe::PackageSpec p;
    const std::string name = "dclVendor" + std::to_string(i) + "D7";
    p.module = name + ".bpl";
    p.flags = package_flags::kPackageModule | package_flags::kDesignOnly;
    for (std::string module : {"rtl70.bpl", "vcl70.bpl", "designide70.bpl"})
      p.required.push_back({module.substr(0, module.size() - 6), module, {}});
    const std::string lib = std::string(runtime[static_cast<std::size_t>(i) % runtime.size()]) + "D7.bpl";
    p.required.push_back({lib.substr(0, lib.size() - 4), lib, {}});
    p.contains = pe::PackageUnits(name, {name + "Reg", name + "Editors"});
    dir.Write("vendor/" + p.module, pe::WritePackage(p));
    t.registry.Set(base + "Known Packages", dir.Root() + "vendor\\" + p.module, RegType::Sz, name);
  }

  std::printf("diagnose: 171 library packages, %d foreign packages registered, %d PATH folders\n", foreign,
              path_folders);
  for (int run = 0; run < runs; ++run) {
    t.view.log.clear();
    const auto start = Clock::now();
    const DiagnoseResult r = Diagnose(t.session(), {t.target()});
    const auto end = Clock::now();
    std::printf("run %d: wall %.3f s (goal 2 s), %d errors, %d warnings, %d hints\n", run + 1,
                std::chrono::duration<double>(end - start).count(), r.errors, r.warnings, r.hints);
  }

  // The reader over files made to cost it as much as their bytes allow.
  const std::pair<const char*, std::string> crafted[] = {
      {"dclSharedNamesD7.bpl", test::ModuleWithSharedImportNames()},
      {"dclEmptySectionsD7.bpl", test::ModuleWithEmptySections()}};
  for (const auto& [name, bytes] : crafted) {
    std::string why;
    bool read = false;
    const auto [seconds, kb] = Measure([&] { read = ReadModule(bytes, &why).has_value(); });
    std::printf("crafted %s (%zu bytes): %s (%s) in %.1f ms, peak %.1f MB above the process (goal 50 ms, 20 MB)\n",
                name, bytes.size(), read ? "read" : "refused", why.c_str(), seconds * 1000, kb / 1024.0);
    dir.Write(std::string("hostile/") + name, bytes);
    t.registry.Set(base + "Known Packages", dir.Root() + "hostile\\" + name, RegType::Sz, name);
  }
  t.view.log.clear();
  DiagnoseResult hostile;
  const auto [wall, peak] = Measure([&] { hostile = Diagnose(t.session(), {t.target()}); });
  std::printf("diagnose with both registered: wall %.3f s, peak %.1f MB above the process, %d errors\n", wall,
              peak / 1024.0, hostile.errors);

  // Verify reads each package's headers and resource directory only.
  for (int run = 0; run < runs; ++run) {
    VerifyResult v;
    const auto [seconds, kb] = Measure([&] {
      v = Verify(t.session(), {.target = t.target(), .packages = t.app.packages(), .last = nullptr});
    });
    std::printf("verify of %zu packages: %.3f s (goal 1 s), %zu not compiled, peak %.1f MB above the process\n",
                t.app.packages().size(), seconds, v.missing.size(), kb / 1024.0);
  }

  // The text readers over texts of many thousands of names: each costs its
  // length, never its square.
  std::string names = "package P;\nrequires ", cfg = "-U", search_path;
  std::vector<std::string> folders;
  for (int i = 0; i < 200000; ++i) {
    names += "Pkg" + std::to_string(i) + ",";
    cfg += "$(BDS)\\";
  }
  for (int i = 0; i < 20000; ++i) {
    search_path += "C:\\f" + std::to_string(i) + ";";
    folders.push_back("C:\\g" + std::to_string(i));
  }
  const double requires_s = Measure([&] { ReadRequiredPackages(names + "Last;"); }).first;
  const double cfg_s = Measure([&] { ConfigUnitFolders(cfg, "C:\\D7"); }).first;
  const double merge_s = Measure([&] { MergeSearchPath(search_path, folders); }).first;
  std::printf("a requires clause of 200000 names: %.3f s; a dcc32.cfg folder written with 200000 $(BDS): %.3f s; "
              "20000 folders merged into a search path of 20000: %.3f s (goal 1 s each)\n",
              requires_s, cfg_s, merge_s);
  return 0;
}
