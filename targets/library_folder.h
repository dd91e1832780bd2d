// The library folder: choosing it, checking it, and where the tool finds and
// puts things inside it.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/session.h"
#include "core/target.h"

namespace kestrin {

// Only the library's installation folder holds this subfolder.
inline constexpr std::string_view kMarkerFolder = "XP Theme Manager";
// The 35 product folders whose "Sources" the compiler searches and the
// install adds to the IDE's search path.
extern const std::array<std::string_view, 35> kProductSourceFolders;

// Trims blanks and control characters; a non-empty result ends in '\'.
std::string NormalizeFolderPath(std::string_view path);
// Joins a folder and a name with exactly one backslash between them.
std::string JoinPath(std::string_view folder, std::string_view name);

// The build's output folder: library + "Library\" + the release's long suffix.
std::string OutputFolder(const Target& target);
// library + product + "\Sources".
std::string ProductSourceFolder(const Target& target, std::string_view product);
// A package's file name: package + suffix + extension (cxGrid, D7, ".bpl").
std::string PackageFileName(std::string_view package, std::string_view suffix,
                            std::string_view extension);
// The same file in `folder`.
std::string PackageFile(std::string_view folder, std::string_view package,
                        std::string_view suffix, std::string_view extension);

// The notice for a folder that is not the library's, and for a command that
// needs a library folder when none is chosen.
inline constexpr std::string_view kNotLibraryNotice = "您选择的不是DEV的安装目录";
// Whether `folder` holds the marker folder.
bool IsLibraryFolder(FileSystem& fs, std::string_view folder);
// The folder button: the folder the user picks, normalized, when it holds
// the marker folder; a refused folder gets the notice; nothing on cancel.
std::optional<std::string> PickLibraryFolder(Session& s);
// At start: the program's own folder when it is the library's, otherwise
// the one the user picks.
std::optional<std::string> LibraryFolderAtStart(Session& s);

}  // namespace kestrin
