#include "catalogue/ide_profiles.h"

#include <string>

namespace kestrin {
namespace {

// Delphi 6 names each value it deletes and ends the system-folder header in
// "..."; Delphi 6 to 8 call the second registry pass the disabled packages'
// pass; BDS 2005 says "removed" for what it deletes from the system folder.
constexpr UninstallTexts kDelphi6Texts = {"从注册表中删除禁用的设计时包信息...",
                                          "删除System32目录下的运行时包文件...", "删除：", true};
constexpr UninstallTexts kDelphi78Texts = {"从注册表中删除禁用的设计时包信息...",
                                           "删除System32目录下的运行时包文件", "删除：", false};
constexpr UninstallTexts kBds2005Texts = {"从注册表中删除设计时包信息...",
                                          "删除System32目录下的运行时包文件", "移除：", false};
constexpr UninstallTexts kBdsTexts = {"从注册表中删除设计时包信息...",
                                      "删除System32目录下的运行时包文件", "删除：", false};

constexpr std::string_view kOldLibrary = "Tools > Environment Options > Library";
constexpr std::string_view kOldEnvironment = "Tools > Environment Options > Environment Variables";
constexpr std::string_view kBdsLibrary = "Tools > Options > Environment Options > Delphi Options > Library - Win32";
constexpr std::string_view kBdsEnvironment = "Tools > Options > Environment Options > Environment Variables";

}  // namespace

const std::array<IdeProfile, kReleaseCount> kIdeProfiles = {{
    {"Delphi6", "Delphi6", "Software\\Borland\\Delphi\\6.0\\", "D6", "Delphi6", IdeFamily::Delphi, kDelphi6Texts, "",
     kOldLibrary, kOldEnvironment, ""},
    {"Delphi7", "Delphi7", "Software\\Borland\\Delphi\\7.0\\", "D7", "Delphi7", IdeFamily::Delphi, kDelphi78Texts, "",
     kOldLibrary, kOldEnvironment, ""},
    // Delphi 8 builds for .NET only: its library has no Win32 page.
    {"Delphi8", "Delphi8", "Software\\Borland\\BDS\\2.0\\", "D8", "Delphi8", IdeFamily::Bds, kDelphi78Texts, "",
     "Tools > Options > Environment Options > Delphi Options > Library", kBdsEnvironment, ""},
    {"BDS2005", "BDS 2005", "Software\\Borland\\BDS\\3.0\\", "D9", "Delphi9", IdeFamily::Bds, kBds2005Texts, "",
     kBdsLibrary, kBdsEnvironment, "D2005 Delphi2005"},
    {"BDS2006", "BDS 2006", "Software\\Borland\\BDS\\4.0\\", "D10", "Delphi10", IdeFamily::Bds, kBdsTexts, "",
     kBdsLibrary, kBdsEnvironment, "D2006 Delphi2006"},
    {"RAD2007", "RAD Studio 2007", "Software\\Borland\\BDS\\5.0\\", "D11", "Delphi11", IdeFamily::Bds, kBdsTexts,
     "Borland\\BDS\\5.0\\EnvOptions.proj", kBdsLibrary, kBdsEnvironment, "D2007 Delphi2007 BDS2007"},
    {"RAD2009", "RAD Studio 2009", "Software\\CodeGear\\BDS\\6.0\\", "D12", "Delphi12", IdeFamily::Bds, kBdsTexts,
     "CodeGear\\BDS\\6.0\\EnvOptions.proj", kBdsLibrary, kBdsEnvironment, "D2009 Delphi2009 BDS2009"},
}};

namespace {

// A name as names are compared: blanks out, letter case aside.
std::string Canon(std::string_view name) {
  std::string c;
  for (char ch : name)
    if (ch != ' ' && ch != '\t') c += static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
  return c;
}

}  // namespace

const IdeProfile* ReleaseNamed(std::string_view name) {
  const std::string wanted = Canon(name);
  if (wanted.empty()) return nullptr;
  for (const IdeProfile& ide : kIdeProfiles) {
    for (std::string_view n : {ide.name, ide.caption, ide.shortSuffix, ide.longSuffix})
      if (Canon(n) == wanted) return &ide;
    std::string_view others = ide.otherNames;
    while (!others.empty()) {
      const std::size_t blank = others.find(' ');
      if (Canon(others.substr(0, blank)) == wanted) return &ide;
      others = blank == std::string_view::npos ? std::string_view() : others.substr(blank + 1);
    }
  }
  return nullptr;
}

}  // namespace kestrin
