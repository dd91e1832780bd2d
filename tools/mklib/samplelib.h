// Generates sample library trees: the marker folder, the 35 product folders
// with their Sources, and a package project for every package of both
// families and every release suffix.
#pragma once

#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/filesystem.h"

namespace kestrin {

// The requires graph of the sample projects (see SamplePackageGraph).
enum class SampleGraphShape {
  Wide,  // products side by side over a few core packages
  Deep,  // one long chain of runtime packages with short side branches
};

struct SampleLibraryOptions {
  std::string root;        // the library folder to create (program path form)
  int extraFiles = 0;      // unrelated files added for a realistic tree
  SampleGraphShape shape = SampleGraphShape::Wide;
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

// What each package of a family's build list requires, as the sample
// projects say (without the suffix; rtl, vcl and designide aside).
//  Wide: a runtime package requires the core packages (the first runtime
//   packages of the list) and the runtime package its own product built
//   before it; a design-time package requires its runtime package.
//  Deep: a chain of kSampleDeepChain runtime packages, the core packages and
//   the last runtime packages of the list, each requiring the one before; every
//   other runtime package requires the chain's last package before it, every
//   design-time package its own runtime package (dclX's X), or else the last
//   runtime package before it. Run in list order, the side packages between
//   the core and the rest of the chain hold it up.
struct PackageRequires {
  std::string package;
  bool design = false;
  std::vector<std::string> required;
};
inline constexpr std::size_t kSampleCorePackages = 4;
inline constexpr std::size_t kSampleDeepChain = 30;
std::vector<PackageRequires> SamplePackageGraph(IdeFamily family,
                                                SampleGraphShape shape = SampleGraphShape::Wide);

}  // namespace kestrin
