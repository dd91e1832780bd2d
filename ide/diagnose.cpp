#include "ide/diagnose.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/pe_module.h"
#include "platform/text.h"
#include "targets/ide_registry.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"

namespace kestrin {
namespace {

// Modules every Windows has in its system folder: found without looking.
constexpr std::string_view kSystemModules[] = {
    "kernel32.dll", "user32.dll",   "gdi32.dll",    "advapi32.dll", "ole32.dll",
    "oleaut32.dll", "comctl32.dll", "shell32.dll",  "version.dll",  "winspool.drv",
    "ntdll.dll",    "msvcrt.dll",   "comdlg32.dll", "wininet.dll",  "winmm.dll",
    "imm32.dll",    "ws2_32.dll",   "msimg32.dll",  "uxtheme.dll"};

bool IsSystemModule(std::string_view lower_name) {
  if (lower_name.rfind("api-ms-win-", 0) == 0) return true;
  return std::find(std::begin(kSystemModules), std::end(kSystemModules), lower_name) !=
         std::end(kSystemModules);
}

std::string FileNamePart(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string Backslashes(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::vector<std::string> SplitList(std::string_view list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string item = Trim(list.substr(start, end - start));
    if (item.size() >= 2 && item.front() == '"' && item.back() == '"') item = item.substr(1, item.size() - 2);
    if (!item.empty()) items.push_back(item);
    start = end + 1;
  }
  return items;
}

// Whether a %NAME% is left in the text: an environment variable that is not set.
bool HoldsPercentName(std::string_view text) {
  for (std::size_t open = text.find('%'); open != std::string_view::npos;) {
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) return false;
    const std::string_view name = text.substr(open + 1, close - open - 1);
    if (!name.empty() && name.find_first_of("\\/;") == std::string_view::npos) return true;
    open = close;
  }
  return false;
}

// FNV-1a over the file's bytes: tells two copies of a package apart
// without keeping either.
std::uint64_t Fingerprint(std::string_view bytes) {
  std::uint64_t h = 14695981039346656037ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// What the check needs of one module file, read once.
struct Module {
  bool present = false;  // the file could be read
  bool pe = false;       // a readable module
  bool package = false;  // with a readable PACKAGEINFO
  PeMachine machine = PeMachine::I386;
  std::vector<std::string> imports;  // module names, as written
  std::vector<PackageUnit> units;
  std::size_t size = 0;
  std::uint64_t fingerprint = 0;
};

// One value of Known Packages or Disabled Packages.
struct Registration {
  std::string raw;                    // the value's name, as registered
  std::optional<std::string> path;    // with its macros expanded; none when they cannot be
};

int Bits(PeMachine m) { return m == PeMachine::Amd64 ? 64 : 32; }

class Diagnosis {
 public:
  Diagnosis(Session& s, const Target& t, DiagnoseResult& r)
      : s_(s), t_(t), ide_(*t.release), r_(r), suffix_(t.shortSuffix()) {}

  void Run() {
    ReadMacros();
    ReadSearchOrder();
    out_ = OutputFolder(t_);
    outKey_ = FolderKey(out_);
    for (std::string_view name : RuntimePackages(ide_.family))
      runtime_.insert(ToLowerAscii(PackageFileName(Trim(name), suffix_, ".bpl")));
    known_ = ReadRegistrations(KnownPackagesKey(ide_));
    disabled_ = ReadRegistrations(DisabledPackagesKey(ide_));
    CheckLibraryDesignPackages();
    CheckLoads();
    CheckUnits();
    CheckSearchPath();
  }

 private:
  void Finding(std::string_view kind, const std::string& text, std::string_view fix) {
    if (kind == "错误") ++r_.errors;
    else if (kind == "警告") ++r_.warnings;
    else ++r_.hints;
    s_.Log(std::string(kind) + ": " + text);
    s_.Log("    办法: " + std::string(fix));
  }

  // --- Macros and the order Windows searches for a module ---------------

  std::string ReadValue(std::string_view key_path, std::string_view name) {
    auto key = s_.registry.Open(key_path, RegAccess::Read);
    std::string value;
    if (key->ReadString(name, &value) != RegRead::Ok) return {};
    return value;
  }

  // $(NAME) from the IDE's macros, then from the environment, then %NAME%
  // from the environment. None when a name stays unknown.
  std::optional<std::string> Expand(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
      const std::size_t open = text.find("$(", i);
      if (open == std::string_view::npos) break;
      const std::size_t close = text.find(')', open + 2);
      if (close == std::string_view::npos) return std::nullopt;
      const std::string name = ToLowerAscii(text.substr(open + 2, close - open - 2));
      out.append(text.substr(i, open - i));
      if (auto m = macros_.find(name); m != macros_.end()) {
        out += m->second;
      } else {
        std::string token(1, '%');
        token.append(text.substr(open + 2, close - open - 2));
        token += '%';
        const std::string value = name.empty() ? token : s_.shell.ExpandEnvironment(token);
        if (value == token) return std::nullopt;
        out += value;
      }
      i = close + 1;
    }
    out.append(text.substr(i));
    // The IDE puts its own variables into its environment too.
    out = ExpandPercentNames(out, [this](const std::string& name) -> std::optional<std::string> {
      if (auto m = macros_.find(ToLowerAscii(name)); m != macros_.end()) return m->second;
      const std::string token = "%" + name + "%";
      std::string value = s_.shell.ExpandEnvironment(token);
      if (value == token) return std::nullopt;
      return value;
    });
    if (HoldsPercentName(out)) return std::nullopt;
    return out;
  }

  void ReadMacros() {
    std::string root = Trim(ReadValue(ide_.baseKey, "RootDir"));
    while (!root.empty() && (root.back() == '\\' || root.back() == '/')) root.pop_back();
    macros_["delphi"] = root;
    macros_["bds"] = root;
    // The IDE's own environment variables override and add to those.
    const std::string env_key = std::string(ide_.baseKey) + "Environment Variables\\";
    auto key = s_.registry.Open(env_key, RegAccess::Read);
    std::vector<std::string> names;
    key->ValueNames(&names);
    std::map<std::string, std::string> overrides;
    for (const std::string& name : names) {
      std::string value;
      if (name.empty() || key->ReadString(name, &value) != RegRead::Ok) continue;
      if (EqualsNoCase(name, "PATH")) {
        idePath_ = value;
        continue;
      }
      overrides[ToLowerAscii(name)] = value;
    }
    for (const auto& [name, value] : overrides)
      if (auto expanded = Expand(value)) macros_[name] = *expanded;
  }

  // The IDE's bin folder, the system folder, the Windows folder, then PATH:
  // the machine's and the user's, or the IDE's own PATH where it sets one.
  void ReadSearchOrder() {
    const std::string app = Trim(ReadValue(ide_.baseKey, "App"));
    ideBits_ = 32;
    if (app.empty()) {
      AddSearchFolder(macros_["delphi"].empty() ? "" : macros_["delphi"] + "\\bin");
    } else {
      AddSearchFolder(FolderPart(Backslashes(app)));
      std::string bytes;
      if (ReadWholeFile(s_.fs, app, &bytes))
        if (auto m = ReadModule(bytes)) ideBits_ = Bits(m->machine);
      s_.Pump();
    }
    const std::string system = s_.fs.SystemFolder();
    AddSearchFolder(system);
    systemKey_ = system.empty() ? "" : FolderKey(system);
    const std::string windows = s_.shell.WindowsFolder();
    AddSearchFolder(windows);
    windowsKey_ = windows.empty() ? "" : FolderKey(windows);

    std::string path = s_.shell.ExpandEnvironment(s_.shell.MachinePath());
    const std::string user = s_.shell.ExpandEnvironment(ReadValue("Environment", "Path"));
    if (!user.empty()) path += (path.empty() ? "" : ";") + user;
    std::vector<std::string> folders = SplitList(path);
    if (idePath_) {
      // Delphi's override may name the PATH it replaces.
      std::string own = *idePath_;
      for (std::string_view token : {"$(PATH)", "%PATH%"})
        for (std::size_t at = ToLowerAscii(own).find(ToLowerAscii(token)); at != std::string::npos;
             at = ToLowerAscii(own).find(ToLowerAscii(token), at + path.size()))
          own.replace(at, token.size(), path);
      folders.clear();
      for (const std::string& entry : SplitList(own))
        if (auto folder = Expand(entry)) folders.push_back(*folder);
    }
    for (const std::string& folder : folders)
      if (!HoldsPercentName(folder)) AddSearchFolder(folder);
  }

  void AddSearchFolder(const std::string& folder) {
    if (Trim(folder).empty()) return;
    const std::string key = FolderKey(folder);
    for (const auto& [f, k] : order_)
      if (k == key) return;
    order_.emplace_back(Trim(folder), key);
  }

  // A folder as Windows compares it: its long form, letter case aside,
  // without a closing backslash.
  std::string FolderKey(std::string_view folder) {
    std::string f = Trim(folder);
    const std::string long_form = s_.fs.LongPath(f);
    std::string k = ToLowerAscii(Backslashes(long_form.empty() ? f : long_form));
    while (!k.empty() && k.back() == '\\') k.pop_back();
    return k;
  }

  static bool Inside(const std::string& key, const std::string& root) {
    return !root.empty() && (key == root || (key.size() > root.size() &&
                                             key.compare(0, root.size(), root) == 0 &&
                                             key[root.size()] == '\\'));
  }

  // Where Windows finds a module the IDE's process needs, by its name.
  std::optional<std::string> Locate(const std::string& name) {
    const std::string lower_name = ToLowerAscii(name);
    if (auto hit = located_.find(lower_name); hit != located_.end()) return hit->second;
    std::optional<std::string> where;
    for (const auto& [folder, key] : order_) {
      const std::string candidate = JoinPath(folder, name);
      if (s_.fs.FileExists(candidate)) {
        where = candidate;
        break;
      }
    }
    located_[lower_name] = where;
    s_.Pump();
    return where;
  }

  const Module& Load(const std::string& path) {
    const std::string key = ToLowerAscii(Backslashes(path));
    if (auto hit = modules_.find(key); hit != modules_.end()) return hit->second;
    Module& m = modules_[key];
    std::string bytes;
    if (ReadWholeFile(s_.fs, path, &bytes)) {
      m.present = true;
      m.size = bytes.size();
      m.fingerprint = Fingerprint(bytes);
      if (auto info = ReadModule(bytes)) {
        m.pe = true;
        m.machine = info->machine;
        for (ImportedModule& i : info->imports) m.imports.push_back(std::move(i.name));
        if (auto resource = FindResource(bytes, ResourceKey::Id(kRtRcdata), ResourceKey::Name("PACKAGEINFO")))
          if (auto package = ReadPackageInfo(*resource)) {
            m.package = info->isDll;
            m.units = std::move(package->contains);
          }
      }
    }
    if (++reads_ % 4 == 0) s_.Pump();
    return m;
  }

  // --- Registrations -------------------------------------------------------

  std::vector<Registration> ReadRegistrations(const std::string& key_path) {
    auto key = s_.registry.Open(key_path, RegAccess::Read);
    std::vector<std::string> names;
    if (!key->ValueNames(&names))
      throw RegistryError("无法读取注册表键 HKEY_CURRENT_USER\\" + key_path + " 中的值: " + key->LastError());
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return ToLowerAscii(a) < ToLowerAscii(b); });
    std::vector<Registration> list;
    for (const std::string& name : names) {
      if (Trim(name).empty()) continue;
      Registration reg{name, Expand(Trim(name))};
      if (!reg.path)
        Finding("提示", "无法展开路径中的宏, 未检查: " + name,
                "在 IDE 的 Tools > Environment Options > Environment Variables 中定义这个变量, "
                "或在注册表中把这个包改成完整路径");
      list.push_back(std::move(reg));
    }
    return list;
  }

  static std::vector<const Registration*> ByFile(const std::vector<Registration>& list,
                                                 std::string_view file) {
    std::vector<const Registration*> hits;
    for (const Registration& reg : list)
      if (EqualsNoCase(FileNamePart(reg.raw), file)) hits.push_back(&reg);
    return hits;
  }

  // Under Disabled Packages by the same name, or by another spelling of the same file.
  bool Disabled(const Registration& reg) {
    if (disabledKeys_.empty())
      for (const Registration& d : disabled_) {
        disabledKeys_.insert(ToLowerAscii(Trim(d.raw)));
        if (d.path) disabledKeys_.insert(FolderKey(*d.path));
      }
    return disabledKeys_.count(ToLowerAscii(Trim(reg.raw))) > 0 ||
           (reg.path && disabledKeys_.count(FolderKey(*reg.path)) > 0);
  }

  void CheckLibraryDesignPackages() {
    int unregistered = 0;
    for (std::string_view design : DesignNames(ide_.family)) {
      const std::string file = PackageFileName(Trim(design), suffix_, ".bpl");
      const auto known = ByFile(known_, file);
      const auto disabled = ByFile(disabled_, file);
      if (known.empty() && disabled.empty()) {
        ++unregistered;
        continue;
      }
      for (const Registration* reg : known)
        if (reg->path && s_.fs.FileExists(*reg->path) && FolderKey(FolderPart(Backslashes(*reg->path))) != outKey_)
          Finding("警告", file + " 注册的不是本库输出目录中的文件: " + *reg->path,
                  "卸载后重新安装, 让 IDE 使用输出目录 " + out_ + " 中的包");
      for (const Registration* reg : disabled)
        Finding("警告", "IDE 已停用这个包: " + reg->path.value_or(reg->raw),
                "在 IDE 的 Component > Install Packages 中勾选这个包, 或卸载后重新安装");
    }
    if (unregistered > 0)
      Finding("提示", std::to_string(unregistered) + " 个设计时包没有注册到 " + std::string(ide_.caption),
              "编译后点 安装(&S) 注册设计时包");
  }

  // --- What the IDE loads --------------------------------------------------

  void CheckLoads() {
    // A module the IDE has loaded by its registered path serves every later
    // import of that name; a registration whose file is gone serves none.
    for (const Registration& reg : known_)
      if (reg.path && !Disabled(reg) && s_.fs.FileExists(*reg.path))
        registeredByName_.emplace(ToLowerAscii(FileNamePart(*reg.path)), *reg.path);
    for (const Registration& reg : known_) {
      if (!reg.path || Disabled(reg)) continue;
      const std::string& path = *reg.path;
      if (!s_.fs.FileExists(path)) {
        Finding("错误", "已注册的设计时包不存在: " + path,
                "重新编译并安装这个包, 或卸载它的注册");
        continue;
      }
      const Module& m = Load(path);
      if (!m.package) {
        Finding("错误", "不是有效的包文件: " + path, "重新编译这个包, 再安装");
        continue;
      }
      std::set<std::string> seen, missing;
      Walk(FileNamePart(path), path, seen, missing);
      s_.Pump();
    }
  }

  void Walk(const std::string& registered, const std::string& path, std::set<std::string>& seen,
            std::set<std::string>& missing) {
    const std::string key = ToLowerAscii(Backslashes(path));
    if (!seen.insert(key).second) return;
    const Module& m = Load(path);
    if (!m.pe) return;
    if (Bits(m.machine) != ideBits_ && bitnessTold_.insert(key).second)
      Finding("错误",
              FileNamePart(path) + " 是 " + std::to_string(Bits(m.machine)) + " 位模块, IDE 是 " +
                  std::to_string(ideBits_) + " 位的: " + path,
              "换成 " + std::to_string(ideBits_) + " 位的文件: 用这个 IDE 的编译器重新编译");
    if (m.package && loadedTold_.insert(key).second) loaded_.push_back(path);
    const std::vector<std::string> imports = m.imports;  // Load may grow the cache
    for (const std::string& import : imports) {
      const std::string name = ToLowerAscii(Trim(import));
      if (name.empty() || IsSystemModule(name)) continue;
      std::optional<std::string> where = Locate(Trim(import));
      if (!where)
        if (auto hit = registeredByName_.find(name); hit != registeredByName_.end()) where = hit->second;
      if (!where) {
        if (missing.insert(name).second)
          Finding("错误", "IDE 无法加载 " + registered + ": 找不到它需要的 " + import,
                  "把 " + import + " 所在的文件夹加入 PATH (复制(&P) 会提供), 或把它复制到系统文件夹");
        continue;
      }
      CheckCopy(Trim(import), *where);
      // Windows' own modules are Windows' business: only packages are followed there.
      const std::string folder = FolderKey(FolderPart(Backslashes(*where)));
      if ((folder == systemKey_ || folder == windowsKey_) && !EndsWithNoCase(name, ".bpl")) continue;
      Walk(registered, *where, seen, missing);
    }
  }

  // The first copy Windows finds of one of the library's runtime packages.
  void CheckCopy(const std::string& name, const std::string& where) {
    const std::string lower = ToLowerAscii(name);
    if (!runtime_.count(lower) || !copyTold_.insert(lower).second) return;
    if (FolderKey(FolderPart(Backslashes(where))) == outKey_) return;
    const std::string own = JoinPath(out_, name);
    if (!s_.fs.FileExists(own)) return;
    const Module& found = Load(where);
    const Module& ours = Load(own);
    if (found.size == ours.size && found.fingerprint == ours.fingerprint) return;
    Finding("警告", "IDE 会加载 " + where + ", 而不是输出目录中的 " + FileNamePart(own),
            "以管理员身份运行 复制(&P) 覆盖这个旧文件, 或删除它");
  }

  void CheckUnits() {
    // Modules are told apart by their file name: the loader takes one whose
    // name is loaded already for every later import of that name, so two
    // copies of one package do not both end up in the IDE.
    std::map<std::string, std::pair<std::string, std::string>> owner;  // unit -> (name key, file)
    std::set<std::pair<std::string, std::string>> told;
    for (const std::string& path : loaded_) {
      const Module& m = Load(path);
      const std::string key = ToLowerAscii(FileNamePart(path));
      for (const PackageUnit& unit : m.units) {
        if (unit.flags & unit_flags::kWeak) continue;
        const std::string name = ToLowerAscii(unit.name);
        auto [it, first] = owner.emplace(name, std::make_pair(key, FileNamePart(path)));
        if (first || it->second.first == key || !told.emplace(name, key).second) continue;
        Finding("错误",
                it->second.second + " 和 " + FileNamePart(path) + " 都包含单元 " + unit.name +
                    ", IDE 只能加载其中一个",
                "在 IDE 中停用或卸载其中一个包");
      }
    }
  }

  // --- The release's search path ---------------------------------------------

  void CheckSearchPath() {
    std::set<std::string> units;
    auto collect = [&](const std::string& folder, std::string_view extension) {
      std::vector<DirEntry> entries;
      if (!s_.fs.ListDir(folder, &entries)) return;
      for (const DirEntry& e : entries)
        if (!e.IsDir() && EndsWithNoCase(e.name, extension))
          units.insert(ToLowerAscii(e.name.substr(0, e.name.size() - extension.size())));
      s_.Pump();
    };
    for (std::string_view product : kProductSourceFolders) collect(ProductSourceFolder(t_, product), ".pas");
    collect(out_, ".dcu");
    const std::string libraryKey = FolderKey(t_.library);

    const std::string list = ReadValue(LibraryKey(ide_), "Search Path");
    std::set<std::string> done;
    for (const std::string& entry : SplitList(list)) {
      if (!done.insert(ToLowerAscii(entry)).second) continue;
      const std::optional<std::string> folder = Expand(entry);
      if (!folder) {
        Finding("提示", "无法展开路径中的宏, 未检查: " + entry,
                "在 IDE 的 Tools > Environment Options > Environment Variables 中定义这个变量, "
                "或把这一项改成完整路径");
        continue;
      }
      const PathKind kind = s_.fs.Probe(*folder);
      if (kind == PathKind::Error) continue;
      if (kind != PathKind::Directory) {
        Finding("提示", "搜索路径中的文件夹不存在: " + *folder,
                "在 IDE 的 Tools > Environment Options > Library 中删除这一项");
        continue;
      }
      if (Inside(FolderKey(*folder), libraryKey)) continue;
      std::vector<DirEntry> entries;
      if (!s_.fs.ListDir(*folder, &entries)) continue;
      s_.Pump();
      for (const DirEntry& e : entries) {
        if (e.IsDir() || !(EndsWithNoCase(e.name, ".pas") || EndsWithNoCase(e.name, ".dcu"))) continue;
        const std::string unit = e.name.substr(0, e.name.size() - 4);
        if (!units.count(ToLowerAscii(unit))) continue;
        Finding("警告", "搜索路径中有另一份库的单元 " + unit + ": " + *folder,
                "在 IDE 的 Tools > Environment Options > Library 中删除这一项, 或删除那份旧库");
        break;
      }
    }
  }

  Session& s_;
  const Target& t_;
  const IdeProfile& ide_;
  DiagnoseResult& r_;
  const std::string_view suffix_;
  std::map<std::string, std::string> macros_;  // lower-case name -> value
  std::optional<std::string> idePath_;
  std::vector<std::pair<std::string, std::string>> order_;  // folder, key
  std::string systemKey_, windowsKey_, out_, outKey_;
  int ideBits_ = 32;
  std::set<std::string> runtime_;
  std::vector<Registration> known_, disabled_;
  std::map<std::string, std::string> registeredByName_;
  std::map<std::string, std::optional<std::string>> located_;
  std::map<std::string, Module> modules_;
  std::set<std::string> disabledKeys_, bitnessTold_, loadedTold_, copyTold_;
  std::vector<std::string> loaded_;
  int reads_ = 0;
};

}  // namespace

DiagnoseResult Diagnose(Session& s, const DiagnoseRequest& request) {
  DiagnoseResult result;
  const Target& t = request.target;
  if (!CommandMayStart(s, t, {.library = true, .ideClosed = false}, result) || !t.release) return result;
  s.OpenBlock("诊断 " + std::string(t.release->caption) + "...");
  Diagnosis(s, t, result).Run();
  if (result.errors + result.warnings + result.hints == 0)
    s.Log("未发现问题: IDE 能加载本库的全部设计时包.");
  s.Log("诊断结果: " + std::to_string(result.errors) + " 个错误, " + std::to_string(result.warnings) +
        " 个警告, " + std::to_string(result.hints) + " 个提示");
  s.LogDone();
  result.started = true;
  result.next = StateEvent::None;
  result.failures = result.errors;
  return result;
}

}  // namespace kestrin
