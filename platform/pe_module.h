// Reads Windows module files (.bpl, .dll, .exe) from their bytes: the
// machine, the import and export tables, resources, and a Delphi package's
// PACKAGEINFO and DESCRIPTION resources. Portable: no system calls.
//
// Every reader takes any bytes: a file that is not a module, cut short, or
// whose offsets, sizes and counts lie yields "nothing" with a short reason,
// never a read outside the bytes given.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/filesystem.h"

namespace kestrin {

// Limits on what one file can make a reader do: Windows' loader takes no
// module with more sections, and no real module's names come near the
// budget, so descriptors that all point at one long list cost nothing.
inline constexpr std::size_t kMaxSections = 96;
inline constexpr std::size_t kMaxNameBytes = 16u << 20;

// Random access to a module's bytes, so that a reader that needs only the
// headers and the resource directory reads only those.
class ModuleSource {
 public:
  virtual ~ModuleSource() = default;
  virtual std::uint64_t Size() = 0;
  // `n` bytes at `offset`, fewer where the data ends first; nothing when
  // `offset` is past the end or the bytes cannot be had. The view stays
  // valid as long as the source.
  virtual std::optional<std::string_view> Read(std::uint64_t offset, std::size_t n) = 0;
};

// Bytes held in memory.
class BytesSource : public ModuleSource {
 public:
  explicit BytesSource(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t Size() override { return bytes_.size(); }
  std::optional<std::string_view> Read(std::uint64_t offset, std::size_t n) override;

 private:
  std::string_view bytes_;
};

// A file opened for reading: each read is the file's own, kept for the
// views it gave out; at most kMaxSourceBytes in all.
class FileSource : public ModuleSource {
 public:
  static constexpr std::size_t kMaxSourceBytes = 32u << 20;
  explicit FileSource(File& file) : file_(file), size_(file.Size()) {}
  std::uint64_t Size() override { return size_ < 0 ? 0 : static_cast<std::uint64_t>(size_); }
  std::optional<std::string_view> Read(std::uint64_t offset, std::size_t n) override;

 private:
  File& file_;
  long long size_;
  std::size_t held_ = 0;
  std::deque<std::string> reads_;
};

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
  std::vector<ImportedModule> imports;  // in table order; a module may be named many times
  std::string exportName;               // the export directory's module name
  std::vector<std::string> exports;     // exported names, as the table lists them
  std::uint32_t exportBase = 1;         // the first exported ordinal
  std::uint32_t exportCount = 0;        // exported functions, named or not

  // Whether the module exports what `f` asks for: the name, or the ordinal.
  bool Exports(const ImportedFunction& f) const;
};

// The headers alone: what a module is, read without its tables.
struct ModuleHeader {
  PeMachine machine = PeMachine::I386;
  bool isDll = false;
};
std::optional<ModuleHeader> ReadModuleHeader(ModuleSource& source, std::string* why = nullptr);

struct ModuleReadOptions {
  // The imported functions; without them only the imported modules' names
  // are read.
  bool functionNames = true;
};

// The module's headers and import and export tables; nothing when the bytes
// are not a 32-bit (I386, PE32) or 64-bit (AMD64, PE32+) module, are cut
// short (a section's data runs past the end), or one of its tables cannot
// be read. `why` (optional) gets the reason.
std::optional<ModuleInfo> ReadModule(std::string_view bytes, std::string* why = nullptr,
                                     ModuleReadOptions options = {});

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
// comes first; they point into `bytes` (or the source's reads).
std::optional<std::string_view> FindResource(std::string_view bytes, const ResourceKey& type,
                                             const ResourceKey& name, std::string* why = nullptr);
std::optional<std::string_view> FindResource(ModuleSource& source, const ResourceKey& type,
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
  std::vector<std::string> required;  // as stored: the module file, e.g. "rtl70.bpl"
  std::vector<PackageUnit> contains;
};

// Whether the runtime library counts `unit` when it looks for a unit that
// two loaded packages both contain: never SysInit (by name), a package's
// own unit (package unit flag) or a weak unit.
bool CountsAsDuplicate(const PackageUnit& unit);

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

// What tells whether a file is a package that an IDE of one bitness can
// load, read from its headers, section table and resource directory only:
// a DLL, not cut short, with a readable PACKAGEINFO.
struct PackageHeader {
  PeMachine machine = PeMachine::I386;
  PackageInfo info;
};
std::optional<PackageHeader> ReadPackageHeader(ModuleSource& source, std::string* why = nullptr);

}  // namespace kestrin
