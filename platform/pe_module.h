// Reads Windows module files (.bpl, .dll, .exe) from their bytes: the
// machine, the import and export tables, resources, and a Delphi package's
// PACKAGEINFO and DESCRIPTION resources. Portable: no system calls.
//
// Every reader takes any bytes: a file that is not a module, cut short, or
// whose offsets, sizes and counts lie yields "nothing" with a short reason,
// never a read outside the bytes given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

enum class PeMachine { I386, Amd64 };

struct ImportedFunction {
  std::string name;       // empty when imported by ordinal
  std::uint16_t ordinal = 0;
  bool byOrdinal = false;
};

struct ImportedModule {
  std::string name;  // as written in the table, e.g. "rtl70.bpl"
  std::vector<ImportedFunction> functions;
};

struct ModuleInfo {
  PeMachine machine = PeMachine::I386;  // I386 is PE32, Amd64 is PE32+
  bool isDll = false;
  std::vector<ImportedModule> imports;  // in table order
  std::string exportName;               // the export directory's module name
  std::vector<std::string> exports;     // exported names, as the table lists them
};

// The module's headers and import and export tables; nothing when the bytes
// are not a 32-bit (I386, PE32) or 64-bit (AMD64, PE32+) module or one of
// its tables cannot be read. `why` (optional) gets the reason.
std::optional<ModuleInfo> ReadModule(std::string_view bytes, std::string* why = nullptr);

// A resource type or name: a number, or a name (compared without regard to
// ASCII letter case, as Windows does).
struct ResourceKey {
  std::uint16_t id = 0;
  std::string name;  // used when not empty
  static ResourceKey Id(std::uint16_t id) { return {id, {}}; }
  static ResourceKey Name(std::string name) { return {0, std::move(name)}; }
};
inline constexpr std::uint16_t kRtRcdata = 10;

// The bytes of the resource of that type and name, in whichever language
// comes first; they point into `bytes`.
std::optional<std::string_view> FindResource(std::string_view bytes, const ResourceKey& type,
                                             const ResourceKey& name, std::string* why = nullptr);

// PACKAGEINFO, as SysUtils.GetPackageInfo decodes it: Flags (Cardinal),
// RequiresCount (Integer), that many {HashCode: Byte; Name: null-terminated},
// ContainsCount (Integer), that many {Flags: Byte; HashCode: Byte; Name:
// null-terminated}. The flag values below are SysUtils' constants.
namespace package_flags {
inline constexpr std::uint32_t kNeverBuild = 0x00000001;
inline constexpr std::uint32_t kDesignOnly = 0x00000002;
inline constexpr std::uint32_t kRunOnly = 0x00000004;
inline constexpr std::uint32_t kIgnoreDupUnits = 0x00000008;
inline constexpr std::uint32_t kProducerMask = 0x0C000000;
inline constexpr std::uint32_t kDelphi4Produced = 0x0C000000;
inline constexpr std::uint32_t kModuleTypeMask = 0xC0000000;
inline constexpr std::uint32_t kPackageModule = 0x40000000;
inline constexpr std::uint32_t kLibraryModule = 0x80000000;
}  // namespace package_flags
namespace unit_flags {
inline constexpr std::uint8_t kMain = 0x01;
inline constexpr std::uint8_t kPackage = 0x02;
inline constexpr std::uint8_t kWeak = 0x04;
inline constexpr std::uint8_t kOrgWeak = 0x08;
inline constexpr std::uint8_t kImplicit = 0x10;
}  // namespace unit_flags

struct PackageUnit {
  std::string name;
  std::uint8_t flags = 0;
  std::uint8_t hash = 0;
};

struct PackageInfo {
  std::uint32_t flags = 0;
  std::vector<std::string> required;  // package names, e.g. "rtl", "dxCoreD7"
  std::vector<PackageUnit> contains;
};

std::optional<PackageInfo> ReadPackageInfo(std::string_view resource, std::string* why = nullptr);

// The DESCRIPTION resource: UTF-16LE text up to its first null, as UTF-8.
std::string ReadDescription(std::string_view resource);

// A Delphi package: a 32-bit DLL with a readable PACKAGEINFO resource.
struct PackageModule {
  ModuleInfo module;
  PackageInfo info;
  std::string description;  // empty without a DESCRIPTION resource
};
std::optional<PackageModule> ReadPackageModule(std::string_view bytes, std::string* why = nullptr);

}  // namespace kestrin
