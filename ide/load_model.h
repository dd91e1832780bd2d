// What the release's IDE will load when it starts, worked out from the
// files and settings without starting it: its own program's packages first,
// then each registered design package with every module it needs, found in
// the order Windows searches for them, with the runtime library's check for
// a unit that two loaded packages both contain. Read-only.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/finding.h"
#include "core/session.h"
#include "core/target.h"
#include "platform/pe_module.h"

namespace kestrin {

// One value of Known Packages or Disabled Packages.
struct Registration {
  std::string raw;                  // the value's name, as registered
  std::optional<std::string> path;  // with its macros expanded; none when they cannot be
};

class LoadModel {
 public:
  // Reads the IDE's macros and environment variables, its program and the
  // order Windows searches for a module in the IDE's process (the program's
  // folder, the system folder, the Windows folder, then PATH: the machine's
  // and the user's as the registry holds them now, or the IDE's own).
  LoadModel(Session& s, const Target& target);

  // $(NAME) from the IDE's macros, then from the environment, then %NAME%;
  // none when a name stays unknown.
  std::optional<std::string> Expand(std::string_view text);
  // A folder as Windows compares it: its long form, letter case aside,
  // without a closing backslash.
  std::string FolderKey(std::string_view folder);
  // The values of a registrations key, sorted letter case aside; a name
  // whose macros cannot be expanded gets a MacroUnknown hint.
  std::vector<Registration> ReadRegistrations(const std::string& key_path, std::vector<Finding>& out);
  bool IsDisabled(const Registration& reg);

  // Loads the IDE's own packages, then every registered package that is not
  // disabled, in order, and adds a finding for each that the IDE cannot
  // load (its file gone or no package, a module it needs found nowhere or
  // not loadable, a function missing from the copy found, two packages with
  // one unit) and each older copy of a library runtime package found before
  // the output folder's.
  void CheckLoads(const std::vector<Registration>& known, const std::vector<Registration>& disabled,
                  std::vector<Finding>& out);

  const std::string& outputFolder() const { return out_; }
  // Where Windows finds a module the IDE's process needs, by its name.
  std::optional<std::string> Locate(const std::string& name);

 private:
  struct Module {
    bool present = false;  // the file could be read
    bool pe = false;       // a module the reader understood, not cut short
    bool package = false;  // a DLL with a readable PACKAGEINFO
    ModuleInfo info;
    std::vector<std::string> exportsSorted;
    std::uint32_t packageFlags = 0;
    std::vector<PackageUnit> units;
    std::size_t size = 0;
    std::uint64_t fingerprint = 0;
  };
  struct Walker;

  void ReadMacros();
  void ReadSearchOrder();
  void AddSearchFolder(const std::string& folder);
  const Module& Load(const std::string& path);
  void LoadIdeModules(const std::string& path);
  bool Walk(Walker& w, const std::string& path);
  void CheckCopy(const std::string& name, const std::string& where, Walker& w);
  void CheckUnits(std::vector<Finding>& out);
  bool InOutputFolder(const std::string& path);
  std::string MissingModuleAdvice(const std::string& module);
  std::string ClashAdvice(const std::string& first, const std::string& second);
  std::string ReadValue(std::string_view key_path, std::string_view name);

  Session& s_;
  const Target& t_;
  const IdeProfile& ide_;
  std::map<std::string, std::string> macros_;  // lower-case name -> value
  std::optional<std::string> idePath_;
  std::string app_;
  std::vector<std::pair<std::string, std::string>> order_;  // folder, key
  std::string systemKey_, windowsKey_, out_, outKey_;
  PeMachine ideMachine_ = PeMachine::I386;
  std::set<std::string> runtime_;
  std::map<std::string, std::string> registeredByName_;
  std::map<std::string, std::optional<std::string>> located_;
  std::map<std::string, Module> modules_;
  std::set<std::string> disabledKeys_, copyTold_, loadedTold_;
  bool disabledRead_ = false;
  std::vector<std::string> loaded_;  // packages in the order the IDE loads them
  // path key -> the registered package that loaded it: its file name and path
  std::map<std::string, std::pair<std::string, std::string>> loadedBy_;
};

// The errors that keep an IDE of the release started now from loading the
// packages registered at `paths` (compared letter case aside): the check
// of every registered package, narrowed to those.
// The findings with every MissingModule finding of one module made one:
// "IDE 无法加载 a.bpl, b.bpl: 找不到它需要的 m.bpl" (at most ten names, then
// "等 <n> 个"), where the first of them stood.
std::vector<Finding> OneFindingPerCause(std::vector<Finding> findings);

std::vector<Finding> UnloadableRegistrations(Session& s, const Target& target,
                                             const std::vector<std::string>& paths);

}  // namespace kestrin
