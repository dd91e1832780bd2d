// Writes small but real Windows DLLs byte by byte: the stand-in compiler's
// packages (.bpl) and the stand-ins of the IDE's own packages. The modules
// hold no code beyond one `ret`; their import, export and resource tables
// are complete, so Windows' loader binds them as it would a real package.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kestrin::pe {

struct ImportSpec {
  std::string module;                  // file name, e.g. "rtl70.bpl"
  std::vector<std::string> functions;  // imported by name; "#<n>" by ordinal n
};

struct RcdataSpec {
  std::string name;   // e.g. "PACKAGEINFO"
  std::string bytes;
};

struct DllSpec {
  std::string moduleName;  // the export directory's name
  bool pe32plus = false;   // a 64-bit (AMD64) module instead of a 32-bit one
  std::uint64_t imageBase = 0;  // 0: derived from moduleName
  std::vector<ImportSpec> imports;
  std::vector<std::string> exports;  // each points at the one `ret`
  std::vector<RcdataSpec> rcdata;    // RCDATA resources by name, language neutral
};

// The preferred base of a module: from a hash of its name (letter case
// ignored), 64 KB aligned, in 0x10000000..0x5FFF0000.
std::uint64_t ImageBaseFor(const std::string& module_name);

std::string WriteDll(const DllSpec& spec);

// A Delphi package.
struct PackageRequirement {
  std::string package;             // as the requires clause names it, e.g. "rtl"
  std::string module;              // its module file, e.g. "rtl70.bpl"
  std::vector<std::string> units;  // the units its symbol file lists; none: its own unit only
};

struct PackageUnitSpec {
  std::string name;
  std::uint8_t flags = 0;
};

struct PackageSpec {
  std::string module;  // its own file name, e.g. "dxCoreD7.bpl"
  bool pe32plus = false;  // a 64-bit (AMD64) module instead of a 32-bit one
  std::uint32_t flags = 0;
  std::vector<PackageRequirement> required;
  std::vector<PackageUnitSpec> contains;
  std::string description;  // UTF-8
};

// Whether the modules a program writes for its own use are 64-bit: a 64-bit
// Windows program loads only those; a 32-bit one and every Linux build write
// 32-bit modules, as the IDE's packages are.
#if defined(_WIN64)
inline constexpr bool kOwnModulesArePe32Plus = true;
#else
inline constexpr bool kOwnModulesArePe32Plus = false;
#endif

// The functions a package exports for one of its units, as Delphi names a
// unit's initialization and finalization: "@Cxgrid@Finalization$qqrv",
// "@Cxgrid@initialization$qqrv" (the unit's name with its first letter
// upper case and the rest lower case).
std::string UnitFinalization(const std::string& unit);
std::string UnitInitialization(const std::string& unit);

// What a package exports: Initialize and Finalize, then each of its units'
// two functions (SysInit's aside, every package has its own).
std::vector<std::string> PackageExports(const PackageSpec& spec);

// PACKAGEINFO and DESCRIPTION resources' bytes. The requires list holds the
// required modules' file names, as the compiler stores them.
std::string PackageInfoBytes(const PackageSpec& spec);
std::string DescriptionBytes(const std::string& utf8);

// The package module. As a compiled package does, it holds one import
// descriptor per unit that uses a module: each of its units (its own unit
// when it has no other) imports from every required module the
// finalization of one of that module's units, so a module is named many
// times over.
std::string WritePackage(const PackageSpec& spec);

// The units a package named `package` whose contains clause names `units`
// lists, flagged as the compiler flags them: its own unit (named after the
// package) main and package unit (0x03), SysInit, which the compiler adds to
// every package, and each contained unit with no flag, or weak and
// originally weak (0x0C) when `weak` names it.
std::vector<PackageUnitSpec> PackageUnits(const std::string& package, const std::vector<std::string>& units,
                                          const std::vector<std::string>& weak = {});

// The .dcp the stand-in compiler writes beside a package: a small text
// naming its module and its units, read back when a package that requires
// it is compiled.
std::string DcpText(const std::string& package, const std::string& module,
                    const std::vector<std::string>& units);
struct DcpFacts {
  std::string module;
  std::vector<std::string> units;
};
// Nothing usable when the text is not one DcpText wrote.
bool ReadDcpText(const std::string& text, DcpFacts* facts);

// The release's number in its own package names ("rtl70.bpl") for a library
// project suffix: D6 60, D7 70, D8 80, D9 (BDS 2005) 90, D10 (BDS 2006) and
// D11 (RAD Studio 2007, binary compatible with 2006) 100, D12 (RAD Studio
// 2009) 120; empty for anything else.
std::string IdePackageNumber(const std::string& project_suffix);

// The IDE's own packages the stand-in compiler knows, by the name a
// requires clause gives them.
const std::vector<std::string>& IdePackageNames();

// Writes the IDE's own packages of the release with `number` ("70"), of the
// calling program's bitness (kOwnModulesArePe32Plus):
// <root>/bin/<name><number>.bpl and <root>/lib/<name>.dcp for each of
// IdePackageNames(). False with `error` set when a file cannot be written.
bool WriteIdePackages(const std::filesystem::path& root, const std::string& number, std::string* error);

}  // namespace kestrin::pe
