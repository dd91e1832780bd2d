#include "core/package_result.h"

namespace kestrin {

std::string PackageResult::Reason() const {
  if (!startError.empty()) return startError;
  if (outcome == PackageOutcome::Skipped) return "需要 " + needs;
  if (outcome == PackageOutcome::ProjectNotFound) return "库目录中找不到这个包工程";
  if (!firstError.empty()) return firstError;
  return "编译器退出码 " + std::to_string(exitCode) + ", 没有报告错误";
}

}  // namespace kestrin
