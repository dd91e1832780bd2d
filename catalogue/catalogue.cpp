#include "catalogue/catalogue.h"

namespace kestrin {
using namespace catalogue_data;

FixedList BuildOrder(IdeFamily f) {
  return f == IdeFamily::Delphi ? FixedList(kMemo2, kMemo2Count) : FixedList(kMemo3, kMemo3Count);
}
FixedList RuntimePackages(IdeFamily f) {
  return f == IdeFamily::Delphi ? FixedList(kMemo8, kMemo8Count) : FixedList(kMemo9, kMemo9Count);
}
FixedList DesignNames(IdeFamily f) {
  return f == IdeFamily::Delphi ? FixedList(kMemo6, kMemo6Count) : FixedList(kMemo4, kMemo4Count);
}
FixedList DesignDescriptions(IdeFamily f) {
  return f == IdeFamily::Delphi ? FixedList(kMemo7, kMemo7Count) : FixedList(kMemo5, kMemo5Count);
}

std::string Trim(std::string_view t) {
  std::size_t b = 0, e = t.size();
  while (b < e && static_cast<unsigned char>(t[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(t[e - 1]) <= 32) --e;
  return std::string(t.substr(b, e - b));
}

static void Fill(std::vector<std::string>& dst, FixedList src) {
  dst.assign(src.begin(), src.end());
}

WorkingLists::WorkingLists() {
  LoadRuntime(IdeFamily::Delphi);
  LoadDesign(IdeFamily::Delphi);
}
void WorkingLists::LoadRuntime(IdeFamily f) { Fill(runtime, RuntimePackages(f)); }
void WorkingLists::LoadDesign(IdeFamily f) {
  Fill(designNames, DesignNames(f));
  Fill(designDescriptions, DesignDescriptions(f));
}

}  // namespace kestrin
