// The values that every handler of the main window shares.
#pragma once

#include <string>

namespace kestrin {

struct ToolContext {
  std::string IdeBinDir;              // "<RootDir>\bin" of the chosen release
  std::string IdeShortSuffix;         // "D6" .. "D12"
  std::string IdeLongSuffix;          // "Delphi6" .. "Delphi12"
  std::string IdeSearchPathAddition;  // folders the install adds to the IDE's search path
  std::string LibraryRoot;            // the library's folder, ending in a backslash
  std::string FoundFileName;          // name of the last hit of a file search
  std::string CurrentPackage;         // the package the running loop handles
  std::string FoundFilePath;          // folder and name of that hit
  std::string SourceSearchPath;       // ';'-separated short folders for the compiler
  std::string BplOutputDir;           // short form of the output folder
  std::string DcpOutputDir;
  std::string DcuOutputDir;
  std::string CompilerCommandPrefix;  // compiler command line up to the package file
  bool StopRequested = false;
};

}  // namespace kestrin
