// The diagnose command: a read-only look at whether the release's IDE will
// load the library's design-time packages, before it is started. It reads
// the package files (headers, imports, PACKAGEINFO), the release's package
// registrations and search path, and follows each registered package's
// imports in the order Windows searches for them; it changes nothing.
#pragma once

#include <vector>

#include "core/command.h"
#include "core/finding.h"
#include "core/session.h"
#include "core/target.h"

namespace kestrin {

struct DiagnoseRequest {
  Target target;
};

struct DiagnoseResult : CommandResult {
  int errors = 0, warnings = 0, hints = 0;
  std::vector<Finding> findings;  // in the order of the log
};

// Writes one block to the log: each finding as a line starting "错误: ",
// "警告: " or "提示: " followed by a line "    办法: ..." saying what to do,
// then "诊断结果: <e> 个错误, <w> 个警告, <i> 个提示". Opens with the library
// check only (a running IDE is no reason not to look). When it ran,
// `started` is set and `failures` is the number of errors.
DiagnoseResult Diagnose(Session& s, const DiagnoseRequest& request);

}  // namespace kestrin
