// The library folder: choosing it, checking it, and where the tool finds and
// puts things inside it.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/session.h"

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

// The build's output folder: libraryRoot + "Library\" + the long suffix.
std::string OutputFolder(const ToolContext& ctx);
// libraryRoot + product + "\Sources".
std::string ProductSourceFolder(const ToolContext& ctx, std::string_view product);
// A package's file name: package + suffix + extension (cxGrid, D7, ".bpl").
std::string PackageFileName(std::string_view package, std::string_view suffix,
                            std::string_view extension);
// The same file in `folder`.
std::string PackageFile(std::string_view folder, std::string_view package,
                        std::string_view suffix, std::string_view extension);

// Puts `text` into the path box and takes it as the library folder.
void SetLibraryFolder(Session& s, std::string_view text);
// The folder button: the user picks a folder, which is taken when it holds
// the marker folder and refused with a notice otherwise.
void ChooseLibraryFolder(Session& s);
// At start: the program's own folder when it is the library's, otherwise
// the user is asked.
void TakeLibraryFolderAtStart(Session& s);
// False, after a notice, when no library folder is chosen.
bool RequireLibraryFolder(Session& s);

}  // namespace kestrin
