#include "tests/crafted_modules.h"

#include <cstdint>

namespace kestrin::test {
namespace {

void Put(std::string& b, std::size_t at, std::uint64_t v, int bytes) {
  if (b.size() < at + static_cast<std::size_t>(bytes)) b.resize(at + static_cast<std::size_t>(bytes), '\0');
  for (int i = 0; i < bytes; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A 32-bit DLL whose every table lies in its headers (addresses are file
// offsets there): `sections` all-zero section entries, then one function
// name of `name_length` characters, a lookup table of `entries` entries
// naming it, and `descriptors` import descriptors over that table.
std::string Build(std::uint32_t sections, std::size_t name_length, std::uint32_t entries,
                  std::uint32_t descriptors) {
  std::string b;
  Put(b, 0, 0x5A4D, 2);
  Put(b, 0x3C, 0x40, 4);
  Put(b, 0x40, 0x00004550, 4);
  Put(b, 0x44, 0x014C, 2);
  Put(b, 0x46, sections, 2);
  Put(b, 0x54, 224, 2);
  Put(b, 0x56, 0x2102, 2);  // executable, 32-bit machine, DLL
  const std::size_t opt = 0x58;
  Put(b, opt, 0x10B, 2);
  Put(b, opt + 92, 16, 4);
  std::size_t at = opt + 224 + 40u * sections;
  b.resize(at, '\0');
  const std::size_t hint = at;
  b.append(2, '\0');
  b.append(name_length, 'x');
  b.push_back('\0');
  const std::size_t module = b.size();
  b += "hostile.dll";
  b.push_back('\0');
  while (b.size() % 4) b.push_back('\0');
  const std::size_t lookup = b.size();
  for (std::uint32_t i = 0; i < entries; ++i) Put(b, lookup + 4u * i, hint, 4);
  Put(b, lookup + 4u * entries, 0, 4);
  const std::size_t table = b.size();
  for (std::uint32_t i = 0; i < descriptors; ++i) {
    Put(b, table + 20u * i, lookup, 4);
    Put(b, table + 20u * i + 12, module, 4);
    Put(b, table + 20u * i + 16, lookup, 4);
  }
  Put(b, table + 20u * descriptors + 19, 0, 1);  // the terminating descriptor
  Put(b, opt + 60, b.size(), 4);                  // SizeOfHeaders: all of it
  Put(b, opt + 96 + 8, table, 4);                 // the import directory
  Put(b, opt + 96 + 12, 20u * (descriptors + 1), 4);
  return b;
}

}  // namespace

std::string ModuleWithSharedImportNames() { return Build(0, 4095, 64, 4096); }

std::string ModuleWithEmptySections() { return Build(65535, 8, 64, 4096); }

}  // namespace kestrin::test
