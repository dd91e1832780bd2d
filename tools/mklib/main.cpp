// mklib: writes a sample library tree, or an IDE release's own packages.
//   mklib <folder> [--files N] [--suffix D7]... [--shape wide|deep]
//   mklib --ide <RootDir> <D7>   rtl70.bpl, vcl70.bpl, ... into <RootDir>\bin,
//                                rtl.dcp, vcl.dcp, ... into <RootDir>\lib
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/mklib/samplelib.h"
#include "tools/pewriter/package_writer.h"
#ifdef _WIN32
#include "platform/win32_platform.h"
#else
#include "platform/posix_platform.h"
#endif

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mklib <folder> [--files N] [--suffix D7]... [--shape wide|deep]\n"
                         "       mklib --ide <RootDir> <D7>\n");
    return 2;
  }
  if (std::string(argv[1]) == "--ide") {
    const std::string number = argc == 4 ? kestrin::pe::IdePackageNumber(argv[3]) : std::string();
    if (number.empty()) {
      std::fprintf(stderr, "usage: mklib --ide <RootDir> <D6|D7|D8|D9|D10|D11|D12>\n");
      return 2;
    }
    std::string error;
    if (!kestrin::pe::WriteIdePackages(argv[2], number, &error)) {
      std::fprintf(stderr, "mklib: %s\n", error.c_str());
      return 1;
    }
    std::printf("%zu IDE packages (%s) in %s\n", kestrin::pe::IdePackageNames().size(), number.c_str(), argv[2]);
    return 0;
  }
  kestrin::SampleLibraryOptions o;
  o.root = argv[1];
  bool custom_suffixes = false;
  for (int i = 2; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--files") o.extraFiles = std::atoi(argv[i + 1]);
    else if (a == "--suffix") {
      if (!custom_suffixes) o.suffixes.clear();
      custom_suffixes = true;
      o.suffixes.push_back(argv[i + 1]);
    } else if (a == "--shape") {
      const std::string shape = argv[i + 1];
      if (shape == "deep") o.shape = kestrin::SampleGraphShape::Deep;
      else if (shape == "wide") o.shape = kestrin::SampleGraphShape::Wide;
      else {
        std::fprintf(stderr, "mklib: --shape takes wide or deep, not %s\n", shape.c_str());
        return 2;
      }
    }
  }
#ifdef _WIN32
  kestrin::Win32FileSystem fs;
#else
  kestrin::PosixFileSystem fs;
#endif
  kestrin::SampleLibraryReport r;
  std::string error;
  if (!kestrin::GenerateSampleLibrary(fs, o, &r, &error)) {
    std::fprintf(stderr, "mklib: %s\n", error.c_str());
    return 1;
  }
  std::printf("%d package projects, %d files, %d folders in %s\n", r.projects, r.files, r.folders,
              o.root.c_str());
  return 0;
}
