#include <gtest/gtest.h>

#include <random>

#include "platform/file_search.h"
#include "platform/text.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;

TEST(StringUtilities, ReplaceAllAndDotEntries) {
  EXPECT_EQ(ReplaceAllOccurrences("dxCoreD7.bpl", "D7.bpl", ""), "dxCore");
  EXPECT_EQ(ReplaceAllOccurrences("dxCoreD7.BPL", "D7.bpl", ""), "dxCoreD7.BPL");
  EXPECT_EQ(ReplaceAllOccurrences("abc", "x", ""), "abc");
  EXPECT_EQ(ReplaceAllOccurrences("aabb", "ab", ""), "");  // joins are replaced too
  EXPECT_EQ(ReplaceAllOccurrences("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAllOccurrences("a", "a", "aa"), "aa");  // ends
  EXPECT_TRUE(IsDotEntry("."));
  EXPECT_TRUE(IsDotEntry(".."));
  for (const char* n : {"...", ".a", "", "a."}) EXPECT_FALSE(IsDotEntry(n)) << n;
}

TEST(FindFileRecursive, LastHitInPreOrderRemains) {
  TempDir d;
  d.Write("a/p.dpk", "1");
  d.Write("a/sub/P.DPK", "2");
  d.Write("b/p.dpk", "3");
  d.Write("p.dpk", "0");
  d.Write(".hidden/p.dpk", "hidden folder");
  PosixFileSystem fs;
  auto hit = FindFileRecursive(fs, d.Root() + "a", "p.dpk", nullptr);
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->path, d.Root() + "a\\sub\\P.DPK");
  EXPECT_EQ(hit->name, "P.DPK");
  hit = FindFileRecursive(fs, d.Root(), "P.dpk", nullptr);
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->path, d.Root() + "b\\p.dpk");
  EXPECT_EQ(hit->path.find("\\\\"), std::string::npos);
  EXPECT_FALSE(FindFileRecursive(fs, d.Root(), "none.dpk", nullptr));
}

TEST(FindFileRecursive, HiddenFilesFoundHiddenFoldersNotEntered) {
  TempDir d;
  d.Write(".x.bpl", "");
  d.Write(".h/y.bpl", "");
  PosixFileSystem fs;
  auto hit = FindFileRecursive(fs, d.Root(), ".x.bpl", nullptr);
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->name, ".x.bpl");
  EXPECT_FALSE(FindFileRecursive(fs, d.Root(), "y.bpl", nullptr));
  EXPECT_FALSE(FindFileRecursive(fs, "", "y.bpl", nullptr));  // an empty folder searches nothing
}

TEST(FileIndex, GivesTheSameHitsAsTheFullSearchOnRandomTrees) {
  std::mt19937 rng(7);
  const char* names[] = {"a.dpk", "A.DPK", "b.dpk", "c.dpk", "c.txt", ".d.dpk", "e.Dpk"};
  const char* dirs[] = {"x", "y", "X2", ".hid", "z"};
  for (int round = 0; round < 20; ++round) {
    TempDir d;
    for (int i = 0; i < 40; ++i) {
      std::string rel;
      int depth = rng() % 4;
      for (int k = 0; k < depth; ++k) rel += std::string(dirs[rng() % 5]) + "/";
      d.Write(rel + names[rng() % 7], "");
    }
    PosixFileSystem fs;
    FileIndex index;
    int pumps = 0;
    index.Build(fs, d.Root(), ".dpk", [&] { ++pumps; });
    EXPECT_GT(pumps, 0);
    for (const char* n : {"a.dpk", "b.DPK", "c.dpk", ".d.dpk", "e.dpk", "none.dpk"}) {
      const auto slow = FindFileRecursive(fs, d.Root(), n, nullptr);
      const FoundFile* fast = index.Find(n);
      ASSERT_EQ(fast != nullptr, slow.has_value()) << round << " " << n;
      if (!fast) continue;
      EXPECT_EQ(fast->name, slow->name) << round << " " << n;
      EXPECT_EQ(fast->path, slow->path) << round << " " << n;
    }
  }
}


// A link that leads back up the tree ends the walk there; a project is found
// at its real place, and one that only a link leads to is found through it.
TEST(FileIndex, LinkLoopsEndAndRealPlacesWin) {
  TempDir d;
  d.Write("lib/A/Sources/pkg.dpk", "real");
  d.Write("elsewhere/only.dpk", "linked");
  std::filesystem::create_directory_symlink(d.Path() / "lib", d.Path() / "lib/A/Sources/0up");
  std::filesystem::create_directory_symlink(d.Path() / "elsewhere", d.Path() / "lib/0linked");
  PosixFileSystem fs;
  FileIndex index;
  int pumps = 0;
  index.Build(fs, d.Root() + "lib", ".dpk", [&] { ++pumps; });
  EXPECT_EQ(index.size(), 2u);
  ASSERT_TRUE(index.Find("PKG.dpk"));
  EXPECT_EQ(index.Find("PKG.dpk")->path, d.Root() + "lib\\A\\Sources\\pkg.dpk");
  ASSERT_TRUE(index.Find("only.dpk"));
  EXPECT_EQ(index.Find("only.dpk")->path, d.Root() + "lib\\0linked\\only.dpk");
  EXPECT_LT(pumps, 10);
  auto slow = FindFileRecursive(fs, d.Root() + "lib", "pkg.dpk", nullptr);
  ASSERT_TRUE(slow);
  EXPECT_EQ(slow->path, d.Root() + "lib\\A\\Sources\\pkg.dpk");
}

// A volume that gives no file identity (as some network shares): a link back
// to the start is not followed, so the walk ends, and the log says so once.
TEST(FileIndex, WithoutFileIdentityLinksAreNotFollowedAndTheWalkEnds) {
  struct NoIdentity : PosixFileSystem {
    bool Inspect(std::string_view path, FileInfo* info) override {
      if (!PosixFileSystem::Inspect(path, info)) return false;
      info->id = FileId{};
      return true;
    }
  } fs;
  TempDir d;
  d.Write("lib/A/B/sub.dpk", "");
  std::filesystem::create_directory_symlink(d.Path() / "lib", d.Path() / "lib/A/0up");
  FileIndex index;
  int pumps = 0;
  index.Build(fs, d.Root() + "lib", ".dpk", [&] { if (++pumps > 100) throw std::runtime_error("endless"); });
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index.Find("sub.dpk")->path, d.Root() + "lib\\A\\B\\sub.dpk");
  test::TestApp t;
  t.session().LogWalkFailures(index);
  EXPECT_EQ(t.view.Lines(), std::vector<std::string>{
      "未进入文件夹链接 " + d.Root() + "lib\\A\\0up\\: 它所指文件夹所在的文件系统不提供文件标识, "
      "无法判断它是否指回已搜索过的文件夹."});
}

}  // namespace
}  // namespace kestrin
