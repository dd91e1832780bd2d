// A stand-in for the Delphi command-line compiler, for tests and the demo.
//
// It takes the command line the tool builds (-LE<bpl dir> -U<paths>
// -R<paths> -N<dcu dir> -LN<dcp dir> ... <folder><project>.dpk), reads the
// package project's name, requires and contains clauses, and writes what a
// real compile leaves behind: <package>.bpl, <package>.dcp and one .dcu per
// unit. A required package whose .dcp is in none of the folders the compiler
// searches (the -LN folder, the -U folders, the IDE's lib folder beside this
// program's folder, <RootDir>\bin\..\lib, and the -U folders of the
// dcc32.cfg beside it) is fatal, and then nothing is written.
//
// The .bpl is a real DLL of this program's own bitness when it is a Windows
// program (a 64-bit one where Windows' 64-bit loader is the only one that
// runs), and 32-bit elsewhere, laid out as the real compiler lays out a
// package: one import descriptor per unit that uses a module (each unit
// imports a unit's finalization from every required package's module file),
// the initialization and finalization of each of its units exported, and the
// PACKAGEINFO (flags from {$DESIGNONLY}, {$RUNONLY} and {$IMPLICITBUILD OFF};
// the required modules by file name; its own unit 0x03, SysInit 0, a unit
// whose source beside the project says {$WEAKPACKAGEUNIT ON} weak, 0x0C, the
// others 0) and DESCRIPTION resources. Each required package's module name
// and units come from its .dcp, as with the real compiler: the .dcp this
// stand-in writes names its .bpl and its units. Where the IDE's own .dcp
// (rtl, vcl, ...) cannot be read, the module's name follows the release's
// rule (rtl70.bpl for a project ending in D7).
//
// Environment switches for tests (each takes "*" or a comma-separated list of
// project names such as dxCoreD7; names compare without regard to case):
//   KESTRIN_DCC_SLEEP_MS=<n>       take n milliseconds per package
//   KESTRIN_DCC_OUTPUT_BYTES=<n>   print n extra bytes of messages
//   KESTRIN_DCC_CRASH=<names>      die without writing anything
//   KESTRIN_DCC_TORN=<names>       write a cut-short .bpl, then die (a
//                                  compiler killed or out of disk mid-write)
//   KESTRIN_DCC_HANG=<names>       never end
//   KESTRIN_DCC_STALL=<names>      write a cut-short .bpl and .dcp, start a
//                                  child of its own that never ends, then
//                                  never end (a compiler stuck mid-write)
//   KESTRIN_DCC_FAIL=<names>       report a compile error, write nothing
//   KESTRIN_DCC_JUNK=<names>       print zero bytes and invalid GBK sequences
//   KESTRIN_DCC_SILENT=<names>     print nothing at all
//   KESTRIN_DCC_STAMP=1            end the output with the moment of the end
//                                  (the steady clock, in nanoseconds)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/pe_module.h"
#include "targets/compiler_config.h"
#include "tools/pewriter/package_writer.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

fs::path P(std::string s) {
#ifndef _WIN32
  std::replace(s.begin(), s.end(), '\\', '/');
#endif
  return fs::path(std::u8string(s.begin(), s.end()));
}

std::string U8(const fs::path& p) {
  auto s = p.u8string();
  return std::string(s.begin(), s.end());
}

bool Selected(const char* var, const std::string& project) {
  const char* v = std::getenv(var);
  if (!v || !*v) return false;
  std::string list = v;
  if (list == "*") return true;
  std::stringstream ss(list);
  std::string item;
  while (std::getline(ss, item, ','))
    if (Lower(item) == Lower(project)) return true;
  return false;
}

void Out(const std::string& s) {
  std::fwrite(s.data(), 1, s.size(), stdout);
}

// Delphi 8 and later number their messages; the release shows in the
// project's suffix (dxCoreD7, dxCoreD12).
bool NumberedMessages(const std::string& project) {
  std::size_t i = project.size();
  while (i > 0 && std::isdigit(static_cast<unsigned char>(project[i - 1]))) --i;
  if (i == 0 || i == project.size() || (project[i - 1] != 'D' && project[i - 1] != 'd')) return true;
  const int release = std::atoi(project.c_str() + i);
  return release >= 8;
}

// The line of `text` on which `word` first stands (1 when it does not).
int LineOf(const std::string& text, const std::string& word) {
  const std::size_t p = Lower(text).find(Lower(word));
  if (p == std::string::npos) return 1;
  return 1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<long>(p), '\n'));
}

// Keeps a processor busy for `ms` milliseconds, as a real compile does.
void Busy(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  volatile unsigned long long x = 1;
  while (std::chrono::steady_clock::now() < end)
    for (int i = 0; i < 10000; ++i) x = x * 6364136223846793005ULL + 1442695040888963407ULL;
}

std::vector<std::string> Args(int argc, char** argv) {
  std::vector<std::string> a;
#ifdef _WIN32
  int n = 0;
  wchar_t** w = CommandLineToArgvW(GetCommandLineW(), &n);
  for (int i = 0; i < n; ++i) {
    int len = WideCharToMultiByte(CP_UTF8, 0, w[i], -1, nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(len > 0 ? len - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w[i], -1, s.data(), len, nullptr, nullptr);
    a.push_back(s);
  }
  LocalFree(w);
#else
  for (int i = 0; i < argc; ++i) a.push_back(argv[i]);
#endif
  return a;
}

std::vector<std::string> SplitPaths(const std::string& s) {
  std::vector<std::string> r;
  std::stringstream ss(s);
  std::string item;
  while (std::getline(ss, item, ';'))
    if (!item.empty()) r.push_back(item);
  return r;
}

// The text without comments and compiler directives ({ }, (* *), //), which
// may stand anywhere in a clause; quoted strings stay.
std::string WithoutComments(const std::string& t) {
  std::string out;
  for (std::size_t i = 0; i < t.size();) {
    if (t[i] == '\'') {
      std::size_t end = t.find('\'', i + 1);
      end = end == std::string::npos ? t.size() : end + 1;
      out += t.substr(i, end - i);
      i = end;
    } else if (t[i] == '{') {
      std::size_t end = t.find('}', i);
      i = end == std::string::npos ? t.size() : end + 1;
      out += ' ';
    } else if (t.compare(i, 2, "(*") == 0) {
      std::size_t end = t.find("*)", i + 2);
      i = end == std::string::npos ? t.size() : end + 2;
      out += ' ';
    } else if (t.compare(i, 2, "//") == 0) {
      std::size_t end = t.find('\n', i);
      i = end == std::string::npos ? t.size() : end;
    } else {
      out += t[i++];
    }
  }
  return out;
}

// The names of a clause ("requires a, b;" or "contains u in 'u.pas', v;").
std::vector<std::string> Clause(const std::string& text, const std::string& word) {
  std::vector<std::string> names;
  std::string low = Lower(text);
  std::size_t p = 0;
  while ((p = low.find(word, p)) != std::string::npos) {
    bool start = p == 0 || !std::isalnum(static_cast<unsigned char>(low[p - 1]));
    bool end = p + word.size() < low.size() && std::isspace(static_cast<unsigned char>(low[p + word.size()]));
    if (start && end) break;
    p += word.size();
  }
  if (p == std::string::npos) return names;
  std::size_t stop = text.find(';', p);
  std::string body = text.substr(p + word.size(), stop == std::string::npos ? std::string::npos : stop - p - word.size());
  std::stringstream ss(body);
  std::string item;
  while (std::getline(ss, item, ',')) {
    std::stringstream is(item);
    std::string name;
    is >> name;
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

std::optional<fs::path> FindFileNoCase(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  if (fs::exists(dir / P(name), ec)) return dir / P(name);
  for (fs::directory_iterator it(dir, ec), e; !ec && it != e; it.increment(ec))
    if (Lower(U8(it->path().filename())) == Lower(name)) return it->path();
  return std::nullopt;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buf;
  buf << in.rdbuf();
  return buf.str();
}

// The folder this program was started from.
fs::path OwnFolder() {
#ifdef _WIN32
  wchar_t exe[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  return fs::path(std::wstring(exe, n)).parent_path();
#else
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).parent_path();
#endif
}

// The release suffix a project's name ends in ("D7" of dxCoreD7).
std::string ProjectSuffix(const std::string& project) {
  std::size_t i = project.size();
  while (i > 0 && std::isdigit(static_cast<unsigned char>(project[i - 1]))) --i;
  if (i == 0 || i == project.size() || (project[i - 1] != 'D' && project[i - 1] != 'd')) return {};
  return project.substr(i - 1);
}

// The text of the directive {$<name> ...} in the source, without the
// braces and the name; nothing when the source has none.
std::optional<std::string> Directive(const std::string& source, const std::string& name) {
  const std::string low = Lower(source);
  const std::string key = "{$" + Lower(name);
  for (std::size_t p = low.find(key); p != std::string::npos; p = low.find(key, p + 1)) {
    const std::size_t after = p + key.size();
    if (after < low.size() && std::isalnum(static_cast<unsigned char>(low[after]))) continue;
    const std::size_t end = source.find('}', after);
    if (end == std::string::npos) return std::nullopt;
    return source.substr(after, end - after);
  }
  return std::nullopt;
}

// The quoted text of {$DESCRIPTION 'text'} ('' stands for a quote).
std::string Description(const std::string& source) {
  const auto d = Directive(source, "DESCRIPTION");
  if (!d) return {};
  std::string text;
  const std::size_t open = d->find('\'');
  if (open == std::string::npos) return {};
  for (std::size_t i = open + 1; i < d->size(); ++i) {
    if ((*d)[i] != '\'') text += (*d)[i];
    else if (i + 1 < d->size() && (*d)[i + 1] == '\'') text += (*d)[++i];
    else break;
  }
  return text;
}

bool WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << content;
  return static_cast<bool>(f);
}

// The contained units whose source beside the project says
// {$WEAKPACKAGEUNIT ON}: the compiler marks them weak.
std::vector<std::string> WeakUnits(const fs::path& folder, const std::vector<std::string>& units) {
  std::vector<std::string> weak;
  for (const std::string& u : units) {
    const auto source = FindFileNoCase(folder, u + ".pas");
    if (!source) continue;
    const auto d = Directive(ReadAll(*source), "WEAKPACKAGEUNIT");
    if (d && Lower(*d).find("on") != std::string::npos) weak.push_back(u);
  }
  return weak;
}

bool IsIdePackage(const std::string& name) {
  const auto& names = kestrin::pe::IdePackageNames();
  return std::find(names.begin(), names.end(), Lower(name)) != names.end();
}

[[noreturn]] void Forever() {
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

// Starts this program again as "--linger", a process that only waits.
void StartLingeringChild() {
#ifdef _WIN32
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(exe) + L"\" --linger";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(exe, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                     &si, &pi)) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
#else
  if (fork() == 0) {
    for (int fd = 0; fd < 3; ++fd) close(fd);
    execl("/proc/self/exe", "dcc32", "--linger", static_cast<char*>(nullptr));
    _exit(1);
  }
#endif
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args = Args(argc, argv);
  if (args.size() == 2 && args[1] == "--linger") Forever();
  std::string le, ln, n, project_arg;
  std::vector<std::string> units_path;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("-LE", 0) == 0) le = a.substr(3);
    else if (a.rfind("-LN", 0) == 0) ln = a.substr(3);
    else if (a.rfind("-U", 0) == 0) units_path = SplitPaths(a.substr(2));
    else if (a.rfind("-N", 0) == 0) n = a.substr(2);
    else if (!a.empty() && a[0] != '-') project_arg = a;
  }
  const std::string project = U8(P(project_arg).stem());
  const bool junk = Selected("KESTRIN_DCC_JUNK", project);
  const bool silent = Selected("KESTRIN_DCC_SILENT", project);
  const bool numbered = NumberedMessages(project);
  auto code = [&](const char* number) { return numbered ? std::string(number) + " " : std::string(); };

  if (const char* ms = std::getenv("KESTRIN_DCC_SLEEP_MS"))
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(ms)));
  if (const char* ms = std::getenv("KESTRIN_DCC_BUSY_MS")) Busy(std::atoi(ms));
  if (Selected("KESTRIN_DCC_HANG", project)) Forever();
  if (silent) return 0;

  std::string out = "Kestrin stand-in package compiler 1.0 (test double, compiles nothing)\n";
  if (project_arg.empty()) {
    Out(out + "Fatal: " + code("F1026") + "File not found: '.dpk'\n");
    return 1;
  }
  std::ifstream in(P(project_arg), std::ios::binary);
  if (!in) {
    Out(out + "Fatal: " + code("F1026") + "File not found: '" + project_arg + "'\n");
    return 1;
  }
  std::stringstream buf;
  buf << in.rdbuf();
  const std::string source = buf.str();
  const std::string text = WithoutComments(source);
  std::string package = project;
  {
    std::vector<std::string> head = Clause(text, "package");
    if (!head.empty()) package = head[0];
  }
  std::vector<std::string> required = Clause(text, "requires");
  std::vector<std::string> contains = Clause(text, "contains");

  if (Selected("KESTRIN_DCC_STALL", project)) {
    if (!le.empty()) WriteFile(P(le) / P(package + ".bpl"), "MZ cut short");
    if (!ln.empty()) WriteFile(P(ln) / P(package + ".dcp"), "cut short");
    StartLingeringChild();
    Out(out + "stand-in: stalled while writing " + package + "\n");
    std::fflush(stdout);
    Forever();
  }
  if (Selected("KESTRIN_DCC_TORN", project)) {
    if (!le.empty()) WriteFile(P(le) / P(package + ".bpl"), "MZ cut short");
    Out(out);
    std::fflush(stdout);
    std::abort();
  }
  if (Selected("KESTRIN_DCC_CRASH", project)) {
    Out(out);
    std::fflush(stdout);
    std::abort();
  }
  // A required package's .dcp is looked for where the compiler looks: the
  // -LN folder, the -U folders, the release's lib folder and the folders of
  // the -U lines of the dcc32.cfg beside the compiler.
  const fs::path root = OwnFolder().parent_path();
  std::vector<fs::path> dcp_folders;
  if (!ln.empty()) dcp_folders.push_back(P(ln));
  for (const std::string& dir : units_path) dcp_folders.push_back(P(dir));
  dcp_folders.push_back(root / "lib");
  for (const std::string& dir : kestrin::ConfigUnitFolders(ReadAll(OwnFolder() / "dcc32.cfg"), U8(root)))
    dcp_folders.push_back(P(dir));
  const std::string release_number = kestrin::pe::IdePackageNumber(ProjectSuffix(project));
  std::vector<kestrin::pe::PackageRequirement> requirements;
  for (const std::string& r : required) {
    const bool ide_package = IsIdePackage(r);
    // The IDE's own are in its lib folder: looked for there first, which
    // spares listing the library's folders for each of them.
    std::optional<fs::path> dcp;
    if (ide_package) dcp = FindFileNoCase(root / "lib", r + ".dcp");
    for (const fs::path& dir : dcp_folders)
      if (!dcp) dcp = FindFileNoCase(dir, r + ".dcp");
    if (!dcp) {
      Out(out + project_arg + "(" + std::to_string(LineOf(source, r)) + ") Fatal: " + code("E2202") +
          "Required package '" + r + "' not found\n");
      return 1;
    }
    kestrin::pe::DcpFacts facts;
    if (!dcp || !kestrin::pe::ReadDcpText(ReadAll(*dcp), &facts)) {
      // No readable symbols file: the module is named by the usual rule.
      facts.module = r + (ide_package ? release_number : std::string()) + ".bpl";
      facts.units.clear();
    }
    requirements.push_back({r, facts.module, facts.units});
  }
  if (Selected("KESTRIN_DCC_FAIL", project)) {
    const std::string unit = (contains.empty() ? package : contains[0]) + ".pas";
    Out(out + unit + "(7) Error: " + code("E2003") + "Undeclared identifier: 'KestrinFailure'\n" +
        project_arg + "(" + std::to_string(LineOf(source, "contains") + 1) + ") Fatal: " +
        code("F2063") + "Could not compile used unit '" + unit + "'\n");
    return 1;
  }

  std::size_t lines = 0;
  for (char c : source) lines += c == '\n';
  for (const std::string& u : contains) {
    out += u + ".pas(12) Hint: " + code("H2164") + "Variable 'I' is declared but never used in 'Init'\n";
    out += u + ".pas(40) Warning: " + code("W1035") + "Return value of function 'Count' might be undefined\n";
    lines += 60;
  }
  if (junk) {
    out += std::string("zero bytes follow:", 18);
    out += std::string("\0\0ab\0", 5);
    out += "\x81\x20 \xFF\xFE invalid GBK\n";
  }
  if (const char* extra = std::getenv("KESTRIN_DCC_OUTPUT_BYTES")) {
    std::size_t want = std::strtoull(extra, nullptr, 10);
    const std::string line = "stand-in: note: filler output line to exercise the output pipe......\n";
    std::string filler;
    while (filler.size() < want) filler += line;
    filler.resize(want);
    Out(out);
    out.clear();
    for (std::size_t p = 0; p < filler.size(); p += 65536)
      Out(filler.substr(p, 65536));
  }
  std::error_code ec;
  bool ok = true;
  const std::string stamp = "stand-in output of " + package + "\n";
  if (!le.empty()) {
    namespace pf = kestrin::package_flags;
    kestrin::pe::PackageSpec spec;
    spec.module = package + ".bpl";
    spec.flags = pf::kPackageModule | pf::kDelphi4Produced;
    if (Directive(source, "DESIGNONLY")) spec.flags |= pf::kDesignOnly;
    if (Directive(source, "RUNONLY")) spec.flags |= pf::kRunOnly;
    if (auto implicit = Directive(source, "IMPLICITBUILD"); implicit && Lower(*implicit).find("off") != std::string::npos)
      spec.flags |= pf::kNeverBuild;
    spec.required = requirements;
    spec.contains = kestrin::pe::PackageUnits(package, contains, WeakUnits(P(project_arg).parent_path(), contains));
    spec.description = Description(source);
    spec.pe32plus = kestrin::pe::kOwnModulesArePe32Plus;
    ok &= WriteFile(P(le) / P(package + ".bpl"), kestrin::pe::WritePackage(spec));
  }
  if (!ln.empty()) ok &= WriteFile(P(ln) / P(package + ".dcp"), kestrin::pe::DcpText(package, package + ".bpl", contains));
  if (!n.empty())
    for (const std::string& u : contains) ok &= WriteFile(P(n) / P(u + ".dcu"), stamp);
  if (!ok) {
    Out(out + "Fatal: " + code("F2039") + "Could not create output file '" + package + ".bpl'\n");
    return 1;
  }
  out += std::to_string(lines) + " lines, 0.01 seconds, " + std::to_string(contains.size()) + " units.\n";
  if (std::getenv("KESTRIN_DCC_STAMP"))
    out += "stand-in: ended at " +
           std::to_string(std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count()) +
           "\n";
  Out(out);
  return 0;
}
