// Generates sample library trees: the marker folder, the 35 product folders
// with their Sources, and a package project for every package of both
// families and every release suffix.
#pragma once

#include <string>
#include <vector>

#include "platform/filesystem.h"

namespace kestrin {

struct SampleLibraryOptions {
  std::string root;        // the library folder to create (program path form)
  int extraFiles = 0;      // unrelated files added for a realistic tree
  std::vector<std::string> suffixes = {"D6", "D7", "D8", "D9", "D10", "D11", "D12"};
};

struct SampleLibraryReport {
  int projects = 0;
  int files = 0;  // every file written
  int folders = 0;
};

bool GenerateSampleLibrary(FileSystem& fs, const SampleLibraryOptions& options,
                           SampleLibraryReport* report, std::string* error);

// The product folder a package's project is placed in.
std::string ProductFolderFor(const std::string& package);

}  // namespace kestrin
