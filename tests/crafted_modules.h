// Module files made to cost a reader as much as their bytes allow: every
// count and offset within what the format permits, the sizes far beyond
// what any compiler writes. For the reader's limits, in tests and the
// benchmark.
#pragma once

#include <string>

namespace kestrin::test {

// About 87 KB: 4,096 import descriptors that all name one lookup table of
// 64 entries, each naming one function whose name is 4,095 characters long.
// Read without limits, that is 262,144 names of 4 KB: about 1 GB.
std::string ModuleWithSharedImportNames();

// About 2.7 MB: 65,535 empty sections, and 4,096 import descriptors over one
// lookup table of 64 short names in the headers, so that every address the
// reader maps passes every section first.
std::string ModuleWithEmptySections();

}  // namespace kestrin::test
