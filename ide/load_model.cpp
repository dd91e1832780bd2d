#include "ide/load_model.h"

#include <algorithm>
#include <cstdint>

#include "catalogue/catalogue.h"
#include "ide/folder_list.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "targets/ide_registry.h"
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

int Bits(PeMachine m) { return m == PeMachine::Amd64 ? 64 : 32; }

Finding Make(Severity severity, Problem problem, std::string package, std::string module, std::string path,
             std::string text, std::string advice) {
  return {severity, problem, std::move(package), std::move(module), std::move(path), std::move(text),
          std::move(advice), {}};
}

}  // namespace

// One registered package's way through the modules it needs.
struct LoadModel::Walker {
  std::string registered;  // its file name
  std::string path;        // its registered path
  std::vector<Finding>& out;
  void Add(Finding f) {
    f.registeredAs = path;
    out.push_back(std::move(f));
  }
  std::map<std::string, bool> loads;  // by path key: whether the module loads
  std::set<std::string> missing, told;
};

LoadModel::LoadModel(Session& s, const Target& t) : s_(s), t_(t), ide_(*t.release) {
  ReadMacros();
  ReadSearchOrder();
  out_ = OutputFolder(t_);
  outKey_ = FolderKey(out_);
  for (std::string_view name : RuntimePackages(ide_.family))
    runtime_.insert(ToLowerAscii(PackageFileName(Trim(name), t_.shortSuffix(), ".bpl")));
}

std::string LoadModel::ReadValue(std::string_view key_path, std::string_view name) {
  auto key = s_.registry.Open(key_path, RegAccess::Read);
  std::string value;
  if (key->ReadString(name, &value) != RegRead::Ok) return {};
  return value;
}

std::optional<std::string> LoadModel::Expand(std::string_view text) {
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

void LoadModel::ReadMacros() {
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

void LoadModel::ReadSearchOrder() {
  app_ = Trim(ReadValue(ide_.baseKey, "App"));
  if (app_.empty()) {
    AddSearchFolder(macros_["delphi"].empty() ? "" : macros_["delphi"] + "\\bin");
  } else {
    AddSearchFolder(FolderPart(app_));
    const Module& app = Load(app_);
    if (app.pe) ideMachine_ = app.info.machine;
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
  std::vector<std::string> folders = FolderListEntries(path);
  if (idePath_) {
    // Delphi's override may name the PATH it replaces.
    const std::string own = ReplaceNamesNoCase(*idePath_, {"$(PATH)", "%PATH%"}, path);
    folders.clear();
    for (const std::string& entry : FolderListEntries(own))
      if (auto folder = Expand(entry)) folders.push_back(*folder);
  }
  for (const std::string& folder : folders)
    if (!HoldsPercentName(folder)) AddSearchFolder(folder);
}

void LoadModel::AddSearchFolder(const std::string& folder) {
  if (Trim(folder).empty()) return;
  const std::string key = FolderKey(folder);
  for (const auto& [f, k] : order_)
    if (k == key) return;
  order_.emplace_back(Trim(folder), key);
}

std::string LoadModel::FolderKey(std::string_view folder) {
  std::string f = Trim(folder);
  const std::string long_form = s_.fs.LongPath(f);
  std::string k = ToLowerAscii(Backslashes(long_form.empty() ? f : long_form));
  while (!k.empty() && k.back() == '\\') k.pop_back();
  return k;
}

// Where to find a module found nowhere: the output folder holds it (the
// install puts that folder on PATH), or a package of the library builds it,
// or it is someone else's.
std::string LoadModel::MissingModuleAdvice(const std::string& module) {
  if (s_.fs.FileExists(JoinPath(out_, module)))
    return module + " 在输出目录 " + out_ + " 中: 点 安装, 它会把这个文件夹加入当前用户的 PATH";
  const std::string suffix(t_.shortSuffix());
  for (std::string_view row : BuildOrder(ide_.family))
    if (EqualsNoCase(PackageFileName(Trim(row), suffix, ".bpl"), module))
      return module + " 由本库的包 " + Trim(row) + " 编译生成: 先编译它, 再点 安装";
  return "把 " + module + " 所在的文件夹加入 PATH, 或把它复制到系统文件夹";
}

// Which of two packages with one unit to disable: the one outside this
// library, where there is exactly one that the IDE does not load itself.
std::string LoadModel::ClashAdvice(const std::string& first, const std::string& second) {
  std::vector<std::string> outside;
  for (const std::string& path : {first, second}) {
    const std::string key = ToLowerAscii(Backslashes(path));
    const bool ides_own = loadedBy_.find(key) == loadedBy_.end();
    if (!InOutputFolder(path) && !ides_own) outside.push_back(FileNamePart(path));
  }
  if (outside.size() == 1)
    return "在 IDE 的 Component > Install Packages 中停用本库以外的 " + outside[0];
  return "在 IDE 的 Component > Install Packages 中停用其中一个包";
}

bool LoadModel::InOutputFolder(const std::string& path) {
  return FolderKey(FolderPart(Backslashes(path))) == outKey_;
}

std::optional<std::string> LoadModel::Locate(const std::string& name) {
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
  return where;
}

const LoadModel::Module& LoadModel::Load(const std::string& path) {
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
      m.info = std::move(*info);
      m.exportsSorted = m.info.exports;
      std::sort(m.exportsSorted.begin(), m.exportsSorted.end());
      if (auto resource = FindResource(bytes, ResourceKey::Id(kRtRcdata), ResourceKey::Name("PACKAGEINFO")))
        if (auto package = ReadPackageInfo(*resource)) {
          m.package = m.info.isDll;
          m.packageFlags = package->flags;
          m.units = std::move(package->contains);
        }
    }
  }
  return m;
}

std::vector<Registration> LoadModel::ReadRegistrations(const std::string& key_path, std::vector<Finding>& out) {
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
      out.push_back(Make(Severity::Hint, Problem::MacroUnknown, FileNamePart(name), "", name,
                         "无法展开路径中的宏, 未检查: " + name,
                         "在 IDE 的 " + std::string(ide_.environmentDialog) +
                             " 中定义这个变量, 或在注册表中把这个包改成完整路径"));
    list.push_back(std::move(reg));
  }
  return list;
}

bool LoadModel::IsDisabled(const Registration& reg) {
  return disabledKeys_.count(ToLowerAscii(Trim(reg.raw))) > 0 ||
         (reg.path && disabledKeys_.count(FolderKey(*reg.path)) > 0);
}

// The program's own packages: loaded by Windows with the program, before
// the IDE loads any registered package.
void LoadModel::LoadIdeModules(const std::string& path) {
  const std::string key = ToLowerAscii(Backslashes(path));
  if (!loadedTold_.insert(key).second) return;
  const Module& m = Load(path);
  if (!m.pe || m.info.machine != ideMachine_) return;
  if (!m.units.empty()) loaded_.push_back(path);
  for (const ImportedModule& import : m.info.imports) {
    const std::string name = ToLowerAscii(Trim(import.name));
    if (name.empty() || IsSystemModule(name)) continue;
    const std::optional<std::string> where = Locate(Trim(import.name));
    if (!where) continue;  // the program's own trouble: it would not start
    const std::string folder = FolderKey(FolderPart(Backslashes(*where)));
    if ((folder == systemKey_ || folder == windowsKey_) && !EndsWithNoCase(name, ".bpl")) continue;
    if (Load(*where).package) LoadIdeModules(*where);
  }
}

void LoadModel::CheckLoads(const std::vector<Registration>& known, const std::vector<Registration>& disabled,
                           std::vector<Finding>& out) {
  if (!disabledRead_) {
    disabledRead_ = true;
    for (const Registration& d : disabled) {
      disabledKeys_.insert(ToLowerAscii(Trim(d.raw)));
      if (d.path) disabledKeys_.insert(FolderKey(*d.path));
    }
  }
  if (!app_.empty()) LoadIdeModules(app_);
  // A module the IDE has loaded by its registered path serves every later
  // import of that name; a registration whose file is gone serves none.
  for (const Registration& reg : known)
    if (reg.path && !IsDisabled(reg) && s_.fs.FileExists(*reg.path))
      registeredByName_.emplace(ToLowerAscii(FileNamePart(*reg.path)), *reg.path);
  for (const Registration& reg : known) {
    if (!reg.path || IsDisabled(reg)) continue;
    const std::string& path = *reg.path;
    const std::string file = FileNamePart(path);
    if (!s_.fs.FileExists(path)) {
      out.push_back(Make(Severity::Error, Problem::RegisteredMissing, file, file, path,
                         "已注册的设计时包不存在: " + path, "重新编译并安装这个包, 或卸载它的注册"));
      out.back().registeredAs = path;
      continue;
    }
    const Module& m = Load(path);
    if (!m.package) {
      out.push_back(Make(Severity::Error, Problem::NotAPackage, file, file, path, "不是有效的包文件: " + path,
                         "重新编译这个包, 再安装"));
      out.back().registeredAs = path;
      continue;
    }
    Walker w{file, path, out, {}, {}, {}};
    Walk(w, path);
  }
  CheckUnits(out);
}

// As Windows' loader goes: for each module a package imports, that module
// with everything it needs first, then the functions taken from it. True
// when `path` loads.
bool LoadModel::Walk(Walker& w, const std::string& path) {
  const std::string key = ToLowerAscii(Backslashes(path));
  if (auto done = w.loads.find(key); done != w.loads.end()) return done->second;
  w.loads[key] = true;  // a module on its way in serves a cycle back to it
  const Module& m = Load(path);
  if (!m.present) return true;  // it cannot be read here: nothing to tell of it
  if (!m.pe || m.info.machine != ideMachine_) {
    const std::string advice =
        m.pe ? "它是 " + std::to_string(Bits(m.info.machine)) + " 位模块, IDE 是 " +
                   std::to_string(Bits(ideMachine_)) + " 位的: 换成 " + std::to_string(Bits(ideMachine_)) +
                   " 位的文件, 用这个 IDE 的编译器重新编译"
             : "这个文件不完整或已损坏: 重新编译或重新复制它";
    w.Add(Make(Severity::Error, Problem::InvalidModule, w.registered, FileNamePart(path), path,
                         "IDE 无法加载 " + w.registered + ": " + path + " 不是有效的模块", advice));
    return w.loads[key] = false;
  }
  if (m.package && loadedTold_.insert(key).second) {
    loaded_.push_back(path);
    loadedBy_[key] = {w.registered, w.path};
  }
  bool loads = true;
  for (const ImportedModule& import : m.info.imports) {
    const std::string name = ToLowerAscii(Trim(import.name));
    if (name.empty() || IsSystemModule(name)) continue;
    std::optional<std::string> where = Locate(Trim(import.name));
    if (!where)
      if (auto hit = registeredByName_.find(name); hit != registeredByName_.end()) where = hit->second;
    if (!where) {
      loads = false;
      if (w.missing.insert(name).second)
        w.Add(Make(Severity::Error, Problem::MissingModule, w.registered, Trim(import.name), "",
                   "IDE 无法加载 " + w.registered + ": 找不到它需要的 " + import.name,
                   MissingModuleAdvice(Trim(import.name))));
      continue;
    }
    CheckCopy(Trim(import.name), *where, w);
    // Windows' own modules are Windows' business: only packages are followed there.
    const std::string folder = FolderKey(FolderPart(Backslashes(*where)));
    if ((folder == systemKey_ || folder == windowsKey_) && !EndsWithNoCase(name, ".bpl")) continue;
    if (!Walk(w, *where)) {
      loads = false;
      continue;
    }
    const Module& target = Load(*where);
    if (!target.pe) continue;
    for (const ImportedFunction& f : import.functions) {
      const bool has = f.byOrdinal ? target.info.Exports(f)
                                   : std::binary_search(target.exportsSorted.begin(), target.exportsSorted.end(),
                                                        f.name);
      if (has) continue;
      loads = false;
      const std::string function = f.byOrdinal ? "#" + std::to_string(f.ordinal) : f.name;
      if (w.told.insert(ToLowerAscii(*where)).second)
        w.Add(Make(Severity::Error, Problem::MissingEntryPoint, w.registered, Trim(import.name), *where,
                             "IDE 无法加载 " + w.registered + ": " + *where + " 中没有它需要的 " + function,
                             "这个 " + Trim(import.name) + " 比需要它的 " + FileNamePart(path) +
                                 " 旧, 或出自另一次编译: 换成与它同一次编译的文件, 或删除这个旧文件"));
      break;
    }
  }
  return w.loads[key] = loads;
}

void LoadModel::CheckCopy(const std::string& name, const std::string& where, Walker& w) {
  const std::string lower = ToLowerAscii(name);
  if (!runtime_.count(lower) || !copyTold_.insert(lower).second) return;
  if (InOutputFolder(where)) return;
  const std::string own = JoinPath(out_, name);
  if (!s_.fs.FileExists(own)) return;
  const Module& found = Load(where);
  const Module& ours = Load(own);
  if (found.size == ours.size && found.fingerprint == ours.fingerprint) return;
  w.Add(Make(Severity::Warning, Problem::OldCopyFirst, w.registered, name, where,
                     "IDE 会加载 " + where + ", 而不是输出目录中的 " + FileNamePart(own),
                     "以管理员身份运行本工具再点 复制, 覆盖这个旧文件, 或删除它"));
}

void LoadModel::CheckUnits(std::vector<Finding>& out) {
  // The runtime library's check as each package loads: a unit it counts
  // that a package loaded before already holds. Packages that ignore
  // duplicate units are compared only among themselves. Modules are told
  // apart by their file name: the loader takes one whose name is loaded
  // already for every later import of that name.
  std::map<std::pair<bool, std::string>, std::pair<std::string, std::string>> owner;  // -> (name key, file)
  std::map<std::string, std::string> owners;  // name key -> the path loaded under it
  std::set<std::pair<std::string, std::string>> told;
  for (const std::string& path : loaded_) {
    const Module& m = Load(path);
    const std::string key = ToLowerAscii(FileNamePart(path));
    const bool ignoring = (m.packageFlags & package_flags::kIgnoreDupUnits) != 0;
    owners.emplace(key, path);
    for (const PackageUnit& unit : m.units) {
      if (!CountsAsDuplicate(unit)) continue;
      const std::string name = ToLowerAscii(unit.name);
      auto [it, first] = owner.emplace(std::make_pair(ignoring, name), std::make_pair(key, FileNamePart(path)));
      if (first || it->second.first == key || !told.emplace(name, key).second) continue;
      const auto by = loadedBy_.find(ToLowerAscii(Backslashes(path)));
      Finding f = Make(Severity::Error, Problem::UnitClash, by == loadedBy_.end() ? "" : by->second.first,
                       unit.name, path,
                       it->second.second + " 和 " + FileNamePart(path) + " 都包含单元 " + unit.name +
                           ", IDE 只能加载其中一个",
                       ClashAdvice(owners[it->second.first], path));
      if (by != loadedBy_.end()) f.registeredAs = by->second.second;
      out.push_back(std::move(f));
    }
  }
}

std::vector<Finding> OneFindingPerCause(std::vector<Finding> findings) {
  constexpr std::size_t kNamed = 10;
  std::vector<Finding> out;
  std::map<std::string, std::size_t> first;   // lower-case module -> its finding in `out`
  std::map<std::string, std::vector<std::string>> packages;
  for (Finding& f : findings) {
    if (f.problem != Problem::MissingModule) {
      out.push_back(std::move(f));
      continue;
    }
    const std::string key = ToLowerAscii(f.module);
    packages[key].push_back(f.package);
    if (first.emplace(key, out.size()).second) out.push_back(std::move(f));
  }
  for (const auto& [key, at] : first) {
    const std::vector<std::string>& names = packages[key];
    if (names.size() < 2) continue;
    std::string list;
    for (std::size_t i = 0; i < names.size() && i < kNamed; ++i) list += (i ? ", " : "") + names[i];
    if (names.size() > kNamed) list += " 等 " + std::to_string(names.size()) + " 个";
    out[at].text = "IDE 无法加载 " + list + ": 找不到它需要的 " + out[at].module;
  }
  return out;
}

std::vector<Finding> UnloadableRegistrations(Session& s, const Target& target,
                                             const std::vector<std::string>& paths) {
  std::set<std::string> wanted;
  for (const std::string& p : paths) wanted.insert(ToLowerAscii(Backslashes(p)));
  LoadModel model(s, target);
  std::vector<Finding> all, ignored;
  const auto known = model.ReadRegistrations(KnownPackagesKey(*target.release), ignored);
  const auto disabled = model.ReadRegistrations(DisabledPackagesKey(*target.release), ignored);
  model.CheckLoads(known, disabled, all);
  std::vector<Finding> errors;
  for (Finding& f : all)
    if (f.severity == Severity::Error && wanted.count(ToLowerAscii(Backslashes(f.registeredAs))))
      errors.push_back(std::move(f));
  return errors;
}

}  // namespace kestrin
