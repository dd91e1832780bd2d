#include "catalogue/catalogue.h"

namespace kestrin {
using namespace catalogue_data;

FixedList BuildOrder(IdeFamily f) {
  return f == IdeFamily::Delphi ? FixedList(kDelphiBuildOrder, kDelphiBuildOrderCount)
                                : FixedList(kBdsBuildOrder, kBdsBuildOrderCount);
}
FixedList RuntimePackages(IdeFamily f) {
  return f == IdeFamily::Delphi ? FixedList(kDelphiRuntime, kDelphiRuntimeCount)
                                : FixedList(kBdsRuntime, kBdsRuntimeCount);
}
FixedList DesignNames(IdeFamily f) {
  return f == IdeFamily::Delphi ? FixedList(kDelphiDesignNames, kDelphiDesignNamesCount)
                                : FixedList(kBdsDesignNames, kBdsDesignNamesCount);
}
FixedList DesignDescriptions(IdeFamily f) {
  return f == IdeFamily::Delphi
             ? FixedList(kDelphiDesignDescriptions, kDelphiDesignDescriptionsCount)
             : FixedList(kBdsDesignDescriptions, kBdsDesignDescriptionsCount);
}

}  // namespace kestrin
