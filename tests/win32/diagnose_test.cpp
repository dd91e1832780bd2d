// 诊断 against Windows' own loader: for the same packages in the same
// folders, the check's "cannot find what it needs" must agree with what
// LoadLibraryW does in a program started from the IDE's bin folder with the
// PATH the check reads; and its reading of PACKAGEINFO with what
// FindResourceW gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "app/controls.h"
#include "platform/pe_module.h"
#include "tests/win32/scenario.h"
#include "tools/pewriter/package_writer.h"

#undef FindResource  // windows.h's name for FindResourceW hides the module reader's

namespace kt {
namespace {
using namespace kestrin::ctl;

const std::string kLib = "C:\\kestrin-tests\\诊断 测试\\DevExpress VCL\\";
// A chain of the sample library: each requires the ones before it, the last
// is a design-time package.
const std::vector<std::string> kChain = {"dxThemeD7", "dxGDIPlusD7", "dxCoreD7", "cxLibraryVCLD7",
                                         "dclcxLibraryVCLD7"};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

std::string Expand(const std::string& text) {
  std::wstring w = W(text), out(32768, L'\0');
  const DWORD n = ExpandEnvironmentStringsW(w.c_str(), out.data(), DWORD(out.size()));
  out.resize(n ? n - 1 : 0);
  return U(out);
}

// The PATH the check searches: the machine's, then the user's.
std::string CheckPath() {
  std::wstring machine(32768, L'\0');
  DWORD size = DWORD(machine.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                   L"Path", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, machine.data(), &size) != ERROR_SUCCESS)
    size = 0;
  machine.resize(size / sizeof(wchar_t));
  while (!machine.empty() && machine.back() == L'\0') machine.pop_back();
  std::string path = U(machine), user;
  if (RegRead("Environment", "Path", &user) && !user.empty()) path += ";" + Expand(user);
  return path;
}

struct Probe {
  unsigned long code = 0xFFFFFFFF;
  std::vector<std::string> unbound;
};

// loadprobe.exe in `bin` loads `module`, with an environment whose PATH is `path`.
Probe LoadAsTheIde(const std::string& bin, const std::string& module, const std::string& path) {
  std::wstring block;
  const wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* e = env; *e; e += wcslen(e) + 1)
    if (_wcsnicmp(e, L"PATH=", 5) != 0) block.append(e).push_back(L'\0');
  FreeEnvironmentStringsW(const_cast<wchar_t*>(env));
  block.append(L"PATH=" + W(path)).push_back(L'\0');
  block.push_back(L'\0');
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  Probe probe;
  if (!CreatePipe(&read, &write, &sa, 1 << 16)) return probe;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = write;
  const std::wstring exe = W(bin + "\\loadprobe.exe");
  std::wstring line = L"\"" + exe + L"\" \"" + W(module) + L"\"";
  PROCESS_INFORMATION pi{};
  const BOOL started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, block.data(),
                                      W(bin).c_str(), &si, &pi);
  CloseHandle(write);
  std::string out;
  if (started) {
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(read, buf, sizeof buf, &got, nullptr) && got) out.append(buf, got);
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(read);
  for (const std::string& l : Script::Lines(out)) {
    if (l.rfind("\tunbound: ", 0) == 0) probe.unbound.push_back(l.substr(10));
    else if (const std::size_t tab = l.rfind('\t'); tab != std::string::npos)
      probe.code = std::stoul(l.substr(tab + 1));
  }
  return probe;
}

// The registered file names 诊断 says the IDE cannot load for a missing module.
std::set<std::string> CannotFind(const std::vector<std::string>& lines) {
  std::set<std::string> names;
  const std::string open = "错误: IDE 无法加载 ", mid = ": 找不到它需要的 ";
  for (const std::string& l : lines)
    if (l.rfind(open, 0) == 0)
      if (const std::size_t at = l.find(mid); at != std::string::npos)
        names.insert(Lower(l.substr(open.size(), at - open.size())));
  return names;
}

// The registered file names 诊断 says the IDE cannot load for a function
// the copy found lacks.
std::set<std::string> LackingEntryPoint(const std::vector<std::string>& lines) {
  std::set<std::string> names;
  const std::string open = "错误: IDE 无法加载 ", mid = " 中没有它需要的 ";
  for (const std::string& l : lines)
    if (l.rfind(open, 0) == 0 && l.find(mid) != std::string::npos)
      names.insert(Lower(l.substr(open.size(), l.find(": ", open.size()) - open.size())));
  return names;
}

struct LoaderComparison : ::testing::Test {
  std::unique_ptr<Scenario> s;
  std::string out, bin, user_path;
  bool had_user_path = false;
  int compared = 0;

  void SetUp() override {
    had_user_path = RegRead("Environment", "Path", &user_path);
    s = std::make_unique<Scenario>(kLib, std::vector<std::string>{"D7"});
    s->RegisterIde(1);
    out = s->Output("Delphi7");
    bin = s->ide_root + "Delphi7\\bin";
    ASSERT_TRUE(CopyFileUtf8(TestFolder() + "loadprobe.exe", bin + "\\loadprobe.exe"));
  }
  void TearDown() override {
    DeleteFileW(W(bin + "\\dxGDIPlusD7.bpl").c_str());
    if (had_user_path) RegSetSz("Environment", "Path", user_path);
    else RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Environment", L"Path");
  }

  void Register(const std::vector<std::string>& packages) {
    const std::string key = BaseKey(1) + "\\Known Packages";
    RegDeleteTreeUtf8(key);
    RegCreate(key);
    for (const std::string& p : packages) RegSetSz(key, out + "\\" + p + ".bpl", p);
  }

  // Compiles the chain and installs it (which registers its design package).
  void Build() {
    std::string packages;
    for (const std::string& p : kChain) {
      if (!packages.empty()) packages += ',';
      packages.append(p, 0, p.size() - 2);
    }
    Script built = RunScript("\"" + s->library + "kestrin.com\" /release:Delphi7 /compile /install /packages:" + packages);
    ASSERT_EQ(built.code, 0u) << built.Digest();
    std::string description;
    ASSERT_TRUE(RegRead(BaseKey(1) + "\\Known Packages", out + "\\dclcxLibraryVCLD7.bpl", &description));
  }

  // For each package of the chain that is there: registered alone (with
  // `also`), 诊断 runs, and the probe loads it; the two must agree. Returns
  // the probe's codes by package and every line of the check.
  std::map<std::string, unsigned long> Compare(std::vector<std::string>* lines_out = nullptr,
                                               const std::vector<std::string>& also = {}) {
    const std::string path = CheckPath();
    std::map<std::string, unsigned long> codes;
    for (const std::string& p : kChain) {
      const std::string file = out + "\\" + p + ".bpl";
      if (!Exists(file)) continue;
      std::vector<std::string> registered = also;
      registered.push_back(p);
      Register(registered);
      Script r = RunScript("\"" + s->library + "kestrin.com\" /release:Delphi7 /diagnose");
      EXPECT_NE(r.code, 2u) << r.Digest();
      const auto lines = r.OutLines();
      if (lines_out) lines_out->insert(lines_out->end(), lines.begin(), lines.end());
      const Probe probe = LoadAsTheIde(bin, file, path);
      codes[p] = probe.code;
      ++compared;
      if (CannotFind(lines).count(Lower(p + ".bpl"))) {
        EXPECT_EQ(probe.code, 126ul) << p << "\n" << r.out;
      } else if (LackingEntryPoint(lines).count(Lower(p + ".bpl"))) {
        EXPECT_EQ(probe.code, 127ul) << p << "\n" << r.out;
        EXPECT_FALSE(probe.unbound.empty()) << p;
      } else {
        EXPECT_EQ(probe.code, 0ul) << p << "\n" << r.out;
        EXPECT_TRUE(probe.unbound.empty()) << p << ": " << probe.unbound.front();
      }
    }
    return codes;
  }
};

TEST_F(LoaderComparison, MissingModulesAndOldCopiesAgreeWithLoadLibrary) {
  ASSERT_NO_FATAL_FAILURE(Build());

  // (a) The output folder on the user's PATH: everything loads.
  RegSetSz("Environment", "Path", out);
  auto codes = Compare();
  EXPECT_EQ(codes.size(), 5u);
  for (const auto& [p, code] : codes) EXPECT_EQ(code, 0ul) << p;

  // Without the PATH entry: the IDE's own packages are found in bin, the
  // library's are not.
  RegSetSz("Environment", "Path", "C:\\kestrin-tests\\nothing here");
  codes = Compare();
  EXPECT_EQ(codes["dxThemeD7"], 0ul);
  EXPECT_EQ(codes["dxGDIPlusD7"], 126ul);
  EXPECT_EQ(codes["dclcxLibraryVCLD7"], 126ul);

  // (b) One package gone from every searched folder: what needs it, directly
  // or not, fails to load.
  RegSetSz("Environment", "Path", out);
  MakeDirs(s->library + "moved");
  ASSERT_TRUE(MoveFileW(W(out + "\\dxCoreD7.bpl").c_str(), W(s->library + "moved\\dxCoreD7.bpl").c_str()));
  codes = Compare();
  EXPECT_EQ(codes, (std::map<std::string, unsigned long>{
                       {"dxThemeD7", 0}, {"dxGDIPlusD7", 0}, {"cxLibraryVCLD7", 126}, {"dclcxLibraryVCLD7", 126}}));
  ASSERT_TRUE(MoveFileW(W(s->library + "moved\\dxCoreD7.bpl").c_str(), W(out + "\\dxCoreD7.bpl").c_str()));

  // (c) An old, different dxGDIPlusD7.bpl in the IDE's bin folder, found
  // before the output folder; it needs a module that is nowhere.
  kestrin::pe::PackageSpec old;
  old.module = "dxGDIPlusD7.bpl";
  old.pe32plus = kestrin::pe::kOwnModulesArePe32Plus;
  old.flags = kestrin::package_flags::kPackageModule | kestrin::package_flags::kRunOnly;
  old.required = {{"rtl", "rtl70.bpl", {}}, {"dxOldD7", "dxOldD7.bpl", {}}};
  old.contains = kestrin::pe::PackageUnits("dxGDIPlusD7", {"dxGDIPlus"});
  old.description = "an older build";
  ASSERT_TRUE(WriteFileUtf8(bin + "\\dxGDIPlusD7.bpl", kestrin::pe::WritePackage(old)));
  std::vector<std::string> lines;
  codes = Compare(&lines);
  EXPECT_EQ(codes, (std::map<std::string, unsigned long>{{"dxThemeD7", 0},
                                                         {"dxGDIPlusD7", 0},
                                                         {"dxCoreD7", 126},
                                                         {"cxLibraryVCLD7", 126},
                                                         {"dclcxLibraryVCLD7", 126}}));
  EXPECT_TRUE(Has(lines, "警告: IDE 会加载 " + bin + "\\dxGDIPlusD7.bpl, 而不是输出目录中的 dxGDIPlusD7.bpl"))
      << Script::Lines(std::string()).size();

  // (d) An old dxGDIPlusD7.bpl in the IDE's bin folder that loads, but was
  // built from other units: what imports its units' functions cannot load
  // (Windows: 127; Wine binds a stub, which the probe finds).
  old.required = {{"rtl", "rtl70.bpl", {}}};
  old.contains = kestrin::pe::PackageUnits("dxGDIPlusD7", {"dxGDIPlusOld"});
  ASSERT_TRUE(WriteFileUtf8(bin + "\\dxGDIPlusD7.bpl", kestrin::pe::WritePackage(old)));
  lines.clear();
  codes = Compare(&lines);
  EXPECT_EQ(codes, (std::map<std::string, unsigned long>{{"dxThemeD7", 0},
                                                         {"dxGDIPlusD7", 0},
                                                         {"dxCoreD7", 127},
                                                         {"cxLibraryVCLD7", 127},
                                                         {"dclcxLibraryVCLD7", 127}}));
  EXPECT_TRUE(Has(lines, "错误: IDE 无法加载 dxCoreD7.bpl: " + bin +
                             "\\dxGDIPlusD7.bpl 中没有它需要的 @Dxgdiplusreg@Finalization$qqrv"));

  // PACKAGEINFO of every package file here, as the check reads it from the
  // bytes and as Windows' resource functions give it.
  int read = 0;
  for (const std::string& folder : {out, bin}) {
    for (const std::string& f : FilesIn(folder, "*.bpl")) {
      const std::string path = folder + "\\" + f;
      std::string bytes;
      ASSERT_TRUE(ReadFileUtf8(path, &bytes)) << path;
      auto ours = kestrin::FindResource(bytes, kestrin::ResourceKey::Id(kestrin::kRtRcdata),
                                        kestrin::ResourceKey::Name("PACKAGEINFO"));
      ASSERT_TRUE(ours.has_value()) << path;
      ASSERT_TRUE(kestrin::ReadPackageInfo(*ours).has_value()) << path;
      HMODULE h = LoadLibraryExW(W(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
      ASSERT_NE(h, nullptr) << path;
      HRSRC res = FindResourceW(h, L"PACKAGEINFO", MAKEINTRESOURCEW(10));
      ASSERT_NE(res, nullptr) << path;
      const void* data = LockResource(LoadResource(h, res));
      const std::string theirs(static_cast<const char*>(data), SizeofResource(h, res));
      EXPECT_EQ(std::string(*ours), theirs) << path;
      FreeLibrary(h);
      ++read;
    }
  }
  EXPECT_GE(read, 5 + 20);
  std::printf("loader comparison: %d probes against the check, PACKAGEINFO of %d files\n", compared, read);
}

// A package still registered though its file is gone: the IDE cannot load
// it, so it serves no later import of its name either, and what needs it
// cannot be loaded.
TEST_F(LoaderComparison, ARegisteredPackageWhoseFileIsGoneServesNoImport) {
  ASSERT_NO_FATAL_FAILURE(Build());
  RegSetSz("Environment", "Path", out);
  ASSERT_TRUE(DeleteFileW(W(out + "\\dxCoreD7.bpl").c_str()));
  const auto codes = Compare(nullptr, {"dxCoreD7"});
  EXPECT_EQ(codes.at("cxLibraryVCLD7"), 126ul);
  EXPECT_EQ(codes.at("dclcxLibraryVCLD7"), 126ul);
}

// The window's 诊断 on a machine with one finding of each kind; the button
// is live only once a release is chosen and while no other command runs.
TEST(DiagnoseButton, OneOfEachFindingAndLockedWhileACompileRuns) {
  Scenario s(kLib, {"D7"});
  s.RegisterIde(1);
  const std::string base = BaseKey(1), out = s.Output("Delphi7");
  RegSetSz(base + "\\Known Packages", "C:\\gone\\dclGoneD7.bpl", "gone");
  RegSetSz(base + "\\Disabled Packages", out + "\\dclcxLibraryVCLD7.bpl", "off");
  RegSetSz(base + "\\Library", "Search Path", "$(DELPHI)\\Lib;C:\\kestrin-tests\\no such folder");
  SetEnvironmentVariableW(L"KESTRIN_DCC_SLEEP_MS", L"1500");
  Program p(s.Exe(), s.library);
  SetEnvironmentVariableW(L"KESTRIN_DCC_SLEEP_MS", nullptr);
  ASSERT_TRUE(p.Started());
  EXPECT_FALSE(p.Enabled(kDiagnoseButton));
  ASSERT_TRUE(p.Click(ReleaseButton(1)));
  ASSERT_TRUE(WaitUntil([&] { return p.Enabled(kDiagnoseButton); }, 5000));

  std::size_t before = p.LogLines().size();
  ASSERT_TRUE(p.Click(kDiagnoseButton));
  ASSERT_TRUE(WaitUntil([&] { return p.LogLines().size() > before; }, 10000));
  ASSERT_TRUE(p.WaitIdle(60000));
  auto all = p.LogLines();
  const std::vector<std::string> log(all.begin() + before, all.end());
  std::string text;
  for (const std::string& l : log) text += l + "\n";
  SCOPED_TRACE(text);
  EXPECT_TRUE(Has(log, "诊断 Delphi7..."));
  EXPECT_TRUE(Has(log, "错误: 已注册的设计时包不存在: C:\\gone\\dclGoneD7.bpl"));
  EXPECT_TRUE(Has(log, "警告: IDE 已停用这个包: " + out + "\\dclcxLibraryVCLD7.bpl"));
  EXPECT_TRUE(Has(log, "提示: 99 个设计时包没有注册到 Delphi7"));
  EXPECT_TRUE(Has(log, "提示: 搜索路径中的文件夹不存在: C:\\kestrin-tests\\no such folder"));
  EXPECT_EQ(CountPrefix(log, "    办法: "), 4);
  EXPECT_TRUE(Has(log, "诊断结果: 1 个错误, 1 个警告, 2 个提示"));
  EXPECT_TRUE(p.Enabled(kDiagnoseButton));

  // A compile runs: the button is off, and a click that reaches it anyway
  // (Wine delivers clicks to disabled buttons) starts nothing.
  ASSERT_TRUE(p.Click(kSelectAllButton));
  ASSERT_TRUE(WaitUntil([&] { return p.Ticked().size() == 171; }, 5000));
  ASSERT_TRUE(p.Click(kCompileButton));
  ASSERT_TRUE(WaitUntil([&] { return p.Visible(kStopButton); }, 10000));
  EXPECT_FALSE(p.Enabled(kDiagnoseButton));
  PostMessageW(p.Ctl(kDiagnoseButton), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return CountPrefix(p.LogLines(), "编译：") == 1; }, 10000));
  ASSERT_TRUE(p.Click(kStopButton));
  ASSERT_TRUE(p.WaitIdle(30000));
  EXPECT_EQ(CountPrefix(p.LogLines(), "诊断 Delphi7..."), 1);
  EXPECT_TRUE(WaitUntil([&] { return p.Enabled(kDiagnoseButton); }, 5000));
  EXPECT_TRUE(p.Close(10000));
}

}  // namespace
}  // namespace kt
