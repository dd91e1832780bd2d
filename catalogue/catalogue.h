// The package catalogue: fixed lists of both IDE families and the hidden
// working lists that the commands walk.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

enum class IdeFamily { Delphi, Bds };

using FixedList = std::span<const std::string_view>;

FixedList BuildOrder(IdeFamily family);          // Memo2 / Memo3
FixedList RuntimePackages(IdeFamily family);     // Memo8 / Memo9
FixedList DesignNames(IdeFamily family);         // Memo6 / Memo4
FixedList DesignDescriptions(IdeFamily family);  // Memo7 / Memo5

// Removes blanks and control characters (every byte up to 32) at both ends.
std::string Trim(std::string_view text);

// The hidden working lists. The visible build list lives in the window.
struct WorkingLists {
  std::vector<std::string> runtime;             // CheckListBox4
  std::vector<std::string> designNames;         // CheckListBox2
  std::vector<std::string> designDescriptions;  // CheckListBox3

  WorkingLists();  // the Delphi family's rows, as at start-up
  void LoadRuntime(IdeFamily family);
  void LoadDesign(IdeFamily family);
};

namespace catalogue_data {
extern const std::string_view kMemo2[], kMemo3[], kMemo4[], kMemo5[], kMemo6[],
    kMemo7[], kMemo8[], kMemo9[];
extern const std::size_t kMemo2Count, kMemo3Count, kMemo4Count, kMemo5Count,
    kMemo6Count, kMemo7Count, kMemo8Count, kMemo9Count;
}  // namespace catalogue_data

}  // namespace kestrin
