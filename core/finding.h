// One finding of the check of whether the IDE will load the library: what
// is wrong, where, and what to do about it. The check's log lines are
// written from these.
#pragma once

#include <string>
#include <string_view>

namespace kestrin {

enum class Severity { Error, Warning, Hint };

enum class Problem {
  MacroUnknown,       // a path names a variable nobody defines: not checked
  Foreign,            // a design package of the library registered from elsewhere
  Disabled,           // one the IDE has disabled
  NotRegistered,      // design packages of the library not registered (one finding)
  RegisteredMissing,  // a registered package whose file is gone
  NotAPackage,        // a registered file that is not a package
  MissingModule,      // a module a registered package needs is found nowhere
  MissingEntryPoint,  // the copy found lacks a function the importer names
  InvalidModule,      // the copy found is no module the IDE can load
  OldCopyFirst,       // an older copy of a runtime package is found first
  UnitClash,          // a unit in two packages the IDE loads
  SearchPathMissing,  // a search-path folder that does not exist
  SearchPathOldUnit,  // a search-path folder holding another copy of a library unit
};

struct Finding {
  Severity severity = Severity::Hint;
  Problem problem = Problem::MacroUnknown;
  std::string package;  // the registered package file it concerns ("dclcxGridD7.bpl"), if any
  std::string module;   // the module (or unit, for a clash) concerned, if any
  std::string path;     // the file or folder concerned, if any
  std::string text;     // the line after "错误: ", "警告: " or "提示: "
  std::string advice;   // the line after "    办法: "
  std::string registeredAs;  // the registered path of `package`, expanded, where it has one
};

inline std::string_view SeverityWord(Severity s) {
  return s == Severity::Error ? "错误" : s == Severity::Warning ? "警告" : "提示";
}

}  // namespace kestrin
