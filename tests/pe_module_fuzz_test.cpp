// The module reader against damaged files: deterministic mutations of a good
// package. Also built with the address and undefined-behaviour sanitizers
// (kestrin_pe_fuzz_tests), where a read past the end fails the run.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "platform/pe_module.h"
#include "tools/pewriter/package_writer.h"

namespace kestrin {
namespace {

std::string GoodPackage() {
  pe::PackageSpec p;
  p.module = "dxBarD7.bpl";
  p.flags = package_flags::kPackageModule | package_flags::kDelphi4Produced;
  p.required = {{"rtl", "rtl70.bpl", {}}, {"dxCoreD7", "dxCoreD7.bpl", {}}};
  p.contains = pe::PackageUnits("dxBarD7", {"dxBar", "dxBarReg"});
  p.description = "Sample package dxBar";
  return pe::WritePackage(p);
}

// Reads everything a caller can ask for; the results only need to exist.
void ReadEverything(std::string_view bytes) {
  std::string why;
  (void)ReadModule(bytes, &why);
  (void)FindResource(bytes, ResourceKey::Id(kRtRcdata), ResourceKey::Name("PACKAGEINFO"), &why);
  (void)FindResource(bytes, ResourceKey::Id(kRtRcdata), ResourceKey::Id(1), &why);
  (void)ReadPackageModule(bytes, &why);
  BytesSource source(bytes);
  (void)ReadPackageHeader(source, &why);
  (void)ReadPackageInfo(bytes.substr(0, std::min<std::size_t>(bytes.size(), 64)), &why);
  (void)ReadDescription(bytes.substr(bytes.size() / 2));
}

TEST(PeModuleFuzz, MutationsOfAGoodPackageNeverCrash) {
  const std::string good = GoodPackage();
  ASSERT_TRUE(ReadPackageModule(good).has_value());
  std::mt19937 rng(20261208);
  auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  int readable = 0;
  for (int round = 0; round < 600; ++round) {
    std::string bytes = good;
    switch (round % 4) {
      case 0:  // bytes flipped, mostly in the headers and tables
        for (int k = 0; k < 1 + round % 8; ++k)
          bytes[pick(round % 8 == 0 ? 0x200 : bytes.size())] = static_cast<char>(pick(256));
        break;
      case 1: {  // a range zeroed or filled with 0xFF
        const std::size_t at = pick(bytes.size());
        const std::size_t len = std::min(bytes.size() - at, 1 + pick(64));
        std::fill_n(bytes.begin() + static_cast<long>(at), len, round % 8 == 1 ? '\0' : '\xFF');
        break;
      }
      case 2:  // cut short
        bytes.resize(pick(bytes.size()));
        break;
      default: {  // a 32-bit field in the used bytes set to an extreme
        const std::size_t at = pick(bytes.size() - 4);
        const std::uint32_t v[] = {0, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF0, 0x1000, 0x3000};
        const std::uint32_t x = v[pick(7)];
        for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(x >> (8 * i));
        break;
      }
    }
    // Read from a block exactly as long as the bytes, so that the sanitizers
    // catch a read one byte past the end.
    std::unique_ptr<char[]> heap(new char[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), heap.get());
    const std::string_view exact(heap.get(), bytes.size());
    ReadEverything(exact);
    readable += ReadPackageModule(exact).has_value();
  }
  // Some mutations hit padding and leave a readable package: the test did
  // reach the deep readers, not only the first header check.
  EXPECT_GT(readable, 30);
  EXPECT_LT(readable, 600);
}

}  // namespace
}  // namespace kestrin
