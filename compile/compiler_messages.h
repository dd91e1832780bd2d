// What a compiler's output says about a package: its first error, and how
// many warnings and hints it gave. dcc32 of Delphi 6 to RAD Studio 2009
// prints its messages in these forms:
//   Unit.pas(12) Error: Undeclared identifier: 'X'
//   Unit.pas(12) Error: E2003 Undeclared identifier: 'X'
//   Pkg.dpk(3) Fatal: Required package 'Y' not found
//   Fatal: F1026 File not found: 'Pkg.dpk'
//   [Error] Unit.pas(12): E2003 ...     [Fatal Error] Pkg.dpk(3): ...
// and warnings and hints the same way, with "Warning:" and "Hint:".
#pragma once

#include <string>
#include <string_view>

namespace kestrin {

enum class MessageKind { None, Error, Warning, Hint };

// The kind of one line of compiler output.
MessageKind CompilerMessageKind(std::string_view line);

struct CompilerMessages {
  std::string firstError;  // the first error or fatal line, trimmed; empty when none
  int warnings = 0;
  int hints = 0;
};

CompilerMessages ScanCompilerOutput(std::string_view output);

}  // namespace kestrin
