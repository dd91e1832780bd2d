// mklib: writes a sample library tree.
//   mklib <folder> [--files N] [--suffix D7]... [--shape wide|deep]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/mklib/samplelib.h"
#ifdef _WIN32
#include "platform/win32_platform.h"
#else
#include "platform/posix_platform.h"
#endif

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mklib <folder> [--files N] [--suffix D7]... [--shape wide|deep]\n");
    return 2;
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
