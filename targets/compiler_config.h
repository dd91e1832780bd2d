// The compiler's own configuration: the dcc32.cfg beside dcc32.exe, whose
// -U lines name folders it searches for units and packages besides those of
// its command line. A real one reads
//   -aWinTypes=Windows;WinProcs=Windows;DbiProcs=BDE
//   -u"C:\D7\lib";"C:\D7\lib\Obj"
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

// The folders a dcc32.cfg's -U switches name ("-u" too), each quoted or not,
// separated by ';'. $(DELPHI) and $(BDS) stand for `root_dir`.
std::vector<std::string> ConfigUnitFolders(std::string_view cfg_text, std::string_view root_dir);

}  // namespace kestrin
