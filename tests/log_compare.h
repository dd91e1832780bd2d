// Comparing the logs of two compile runs, in both test suites.
#pragma once

#include <string>
#include <vector>

namespace kestrin::test {

// The log of a run with the time of its summary taken out, and without the
// line that says how many compilers run at once: what a parallel run and a
// run one at a time must have in common.
inline std::vector<std::string> Comparable(std::vector<std::string> lines) {
  std::vector<std::string> out;
  for (std::string& l : lines) {
    if (l.rfind("并行编译: ", 0) == 0) continue;
    if (l.rfind("编译结果: ", 0) == 0) l = l.substr(0, l.find("; 用时"));
    out.push_back(l);
  }
  return out;
}

}  // namespace kestrin::test
