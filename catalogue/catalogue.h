// The package catalogue: the fixed package lists of both IDE families, in the
// order the commands walk them.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace kestrin {

// Delphi 6 and 7 build one set of packages, Delphi 8 and later another.
enum class IdeFamily { Delphi, Bds };

using FixedList = std::span<const std::string_view>;

FixedList BuildOrder(IdeFamily family);          // every package, in compile order
FixedList RuntimePackages(IdeFamily family);     // copied into the system folder
FixedList DesignNames(IdeFamily family);         // registered with the IDE
FixedList DesignDescriptions(IdeFamily family);  // row for row with DesignNames

namespace catalogue_data {
extern const std::string_view kDelphiBuildOrder[], kBdsBuildOrder[], kDelphiRuntime[],
    kBdsRuntime[], kDelphiDesignNames[], kDelphiDesignDescriptions[], kBdsDesignNames[],
    kBdsDesignDescriptions[];
extern const std::size_t kDelphiBuildOrderCount, kBdsBuildOrderCount, kDelphiRuntimeCount,
    kBdsRuntimeCount, kDelphiDesignNamesCount, kDelphiDesignDescriptionsCount,
    kBdsDesignNamesCount, kBdsDesignDescriptionsCount;
}  // namespace catalogue_data

}  // namespace kestrin
