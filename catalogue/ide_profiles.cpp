#include "catalogue/ide_profiles.h"

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

}  // namespace

const std::array<IdeProfile, kReleaseCount> kIdeProfiles = {{
    {"Delphi6", "Delphi6", "Software\\Borland\\Delphi\\6.0\\", "D6", "Delphi6", IdeFamily::Delphi, kDelphi6Texts, ""},
    {"Delphi7", "Delphi7", "Software\\Borland\\Delphi\\7.0\\", "D7", "Delphi7", IdeFamily::Delphi, kDelphi78Texts, ""},
    {"Delphi8", "Delphi8", "Software\\Borland\\BDS\\2.0\\", "D8", "Delphi8", IdeFamily::Bds, kDelphi78Texts, ""},
    {"BDS2005", "BDS 2005", "Software\\Borland\\BDS\\3.0\\", "D9", "Delphi9", IdeFamily::Bds, kBds2005Texts, ""},
    {"BDS2006", "BDS 2006", "Software\\Borland\\BDS\\4.0\\", "D10", "Delphi10", IdeFamily::Bds, kBdsTexts, ""},
    {"RAD2007", "RAD Studio 2007", "Software\\Borland\\BDS\\5.0\\", "D11", "Delphi11", IdeFamily::Bds, kBdsTexts,
     "Borland\\BDS\\5.0\\EnvOptions.proj"},
    {"RAD2009", "RAD Studio 2009", "Software\\CodeGear\\BDS\\6.0\\", "D12", "Delphi12", IdeFamily::Bds, kBdsTexts,
     "CodeGear\\BDS\\6.0\\EnvOptions.proj"},
}};

}  // namespace kestrin
