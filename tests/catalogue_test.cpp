#include <gtest/gtest.h>

#include <set>

#include "catalogue/catalogue.h"
#include "catalogue/ide_profiles.h"
#include "platform/text.h"

namespace kestrin {
namespace {

std::vector<std::string> V(FixedList l) { return {l.begin(), l.end()}; }

std::string NoVcl(const std::string& s) {
  return s.size() > 3 && s.compare(s.size() - 3, 3, "VCL") == 0 ? s.substr(0, s.size() - 3) : s;
}

int IndexOf(const std::vector<std::string>& v, const std::string& s) {
  for (std::size_t i = 0; i < v.size(); ++i)
    if (v[i] == s) return static_cast<int>(i);
  return -1;
}

TEST(Catalogue, ListSizesAndNoDuplicatesOrBlankRows) {
  const std::pair<FixedList, std::size_t> lists[] = {
      {BuildOrder(IdeFamily::Delphi), 171}, {BuildOrder(IdeFamily::Bds), 131},
      {RuntimePackages(IdeFamily::Delphi), 65}, {RuntimePackages(IdeFamily::Bds), 49},
      {DesignNames(IdeFamily::Delphi), 100}, {DesignDescriptions(IdeFamily::Delphi), 100},
      {DesignNames(IdeFamily::Bds), 80}, {DesignDescriptions(IdeFamily::Bds), 80}};
  for (const auto& [list, size] : lists) {
    EXPECT_EQ(list.size(), size);
    for (std::string_view row : list) EXPECT_FALSE(Trim(row).empty());
  }
  for (IdeFamily f : {IdeFamily::Delphi, IdeFamily::Bds})
    for (FixedList l : {BuildOrder(f), RuntimePackages(f), DesignNames(f)}) {
      std::set<std::string> lower;
      for (std::string_view r : l) lower.insert(ToLowerAscii(r));
      EXPECT_EQ(lower.size(), l.size());
    }
}

TEST(Catalogue, BdsBuildOrderIsDelphiOrderLessVclSuffixAndFortyRows) {
  std::vector<std::string> delphi_order = V(BuildOrder(IdeFamily::Delphi));
  int edtr = IndexOf(delphi_order, "dxEdtr"), exrw = IndexOf(delphi_order, "dcldxExRw");
  int tllnk = IndexOf(delphi_order, "dxPSTLLnk"), webtee = IndexOf(delphi_order, "dclcxWebTeeChart");
  ASSERT_EQ(exrw - edtr + 1, 23);
  ASSERT_EQ(webtee - tllnk + 1, 16);
  std::vector<std::string> expected;
  int vcl = 0;
  for (int i = 0; i < static_cast<int>(delphi_order.size()); ++i) {
    if ((i >= edtr && i <= exrw) || (i >= tllnk && i <= webtee) ||
        delphi_order[i] == "dxLayoutControldxEditAdapters")
      continue;
    vcl += NoVcl(delphi_order[i]) != delphi_order[i];
    expected.push_back(NoVcl(delphi_order[i]));
  }
  EXPECT_EQ(vcl, 15);
  EXPECT_EQ(expected, V(BuildOrder(IdeFamily::Bds)));
}

TEST(Catalogue, BdsRuntimeListFollowsFromDelphiRuntimeList) {
  const std::set<std::string> dropped = {"cxScriptEngine", "cxWeb", "cxWebPascalScript", "dxDBEd",
                                         "dxEdtr", "dxELib", "dxExEL", "dxExRw", "dxGrEd", "dxIns",
                                         "dxObjIns", "dxPSdxDBCtrlLnk", "ecqdbc", "eqdbtl", "EQGrid",
                                         "eqtl"};
  std::vector<std::string> expected;
  for (const std::string& r : V(RuntimePackages(IdeFamily::Delphi))) {
    if (dropped.count(r)) continue;
    expected.push_back(r == "cxIFPascalScript" ? "cxIBXAdapters" : NoVcl(r));
  }
  EXPECT_EQ(expected, V(RuntimePackages(IdeFamily::Bds)));
}

TEST(Catalogue, RuntimeAndDesignPackagesAreBuiltAndTheRestIsNamed) {
  struct Case { IdeFamily f; std::set<std::string> build_only; };
  const Case cases[] = {
      {IdeFamily::Delphi, {"cxibxadapters", "dxlayoutcontroldxeditadapters", "dxpscxscheduler3lnk",
                           "dxpscxpivotgrid2lnk", "cxwebsnap", "cxwebteechart"}},
      {IdeFamily::Bds, {"dxpscxscheduler3lnk", "dxpscxpivotgrid2lnk"}}};
  for (const Case& c : cases) {
    std::set<std::string> build;
    for (std::string_view r : BuildOrder(c.f)) build.insert(ToLowerAscii(r));
    std::set<std::string> used;
    for (FixedList l : {RuntimePackages(c.f), DesignNames(c.f)})
      for (std::string_view r : l) {
        EXPECT_TRUE(build.count(ToLowerAscii(r))) << r;
        used.insert(ToLowerAscii(r));
      }
    std::set<std::string> rest;
    for (const auto& b : build)
      if (!used.count(b)) rest.insert(b);
    EXPECT_EQ(rest, c.build_only);
  }
}

TEST(Catalogue, BdsDescriptionsFollowTheDelphiTableWithTwoExceptions) {
  std::vector<std::string> dn = V(DesignNames(IdeFamily::Delphi));
  std::vector<std::string> dd = V(DesignDescriptions(IdeFamily::Delphi));
  std::vector<std::string> bn = V(DesignNames(IdeFamily::Bds));
  std::vector<std::string> bd = V(DesignDescriptions(IdeFamily::Bds));
  for (std::size_t i = 0; i < bn.size(); ++i) {
    if (bn[i] == "dcldxSkinscxScheduler3Painter") {
      EXPECT_EQ(bd[i], "ExpressSkins Library Uses Clause Auto Fill Helper for Scheduler Painter by Developer Express Inc.");
      continue;
    }
    if (bn[i] == "dcldxSkinsdxNavBar2Painter") {
      EXPECT_EQ(bd[i], "ExpressSkins Library Uses Clause Auto Fill Helper for NavBar Painter by Developer Express Inc.");
      continue;
    }
    bool found = false;
    for (std::size_t j = 0; j < dn.size(); ++j)
      if (EqualsNoCase(NoVcl(dn[j]), bn[i])) {
        EXPECT_EQ(Trim(bd[i]), Trim(dd[j])) << bn[i];
        found = true;
      }
    EXPECT_TRUE(found) << bn[i];
  }
}

TEST(Catalogue, SkinDescriptionsNameTheirOwnSkin) {
  for (IdeFamily f : {IdeFamily::Delphi, IdeFamily::Bds}) {
    std::vector<std::string> n = V(DesignNames(f)), d = V(DesignDescriptions(f));
    std::set<std::string> texts;
    for (std::size_t i = 0; i < n.size(); ++i) {
      if (n[i].rfind("dxSkin", 0) != 0) continue;
      std::string skin = n[i].substr(6);
      if (skin == "iMaginary") skin = "Maginary";
      EXPECT_EQ(d[i], "ExpressSkins - " + skin + " Skin by Developer Express Inc.");
      EXPECT_TRUE(texts.insert(d[i]).second) << "two skins share " << d[i];
    }
  }
}

TEST(Catalogue, RowsAreTrimmedBeforeUse) {
  std::vector<std::string> d = V(DesignDescriptions(IdeFamily::Delphi));
  EXPECT_NE(d.back(), Trim(d.back()));  // the row carries trailing blanks
  EXPECT_EQ(Trim(d.back()), "ExpressSpellChecker by Developer Express Inc.");
  EXPECT_EQ(Trim(" \t\x01 a b \r\n"), "a b");
  EXPECT_EQ(Trim("   "), "");
  std::vector<std::string> dn = V(DesignNames(IdeFamily::Delphi));
  for (const char* p : {"dclcxPivotGrid", "dclcxPivotGridChart", "dclcxPivotGridOLAP"})
    EXPECT_EQ(d[IndexOf(dn, p)], "ExpressPivotGrid (VCL Edition) by Developer Express Inc.");
}

}  // namespace
}  // namespace kestrin
