#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/memory_registry.h"
#include "platform/posix_platform.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::TempDir;

TEST(Text, GbkRoundTripAndInvalidBytesKeepTheRest) {
  const std::string chinese = "编译组件...完成";
  std::string gbk = Utf8ToGbk(chinese);
  EXPECT_EQ(gbk, "\xB1\xE0\xD2\xEB\xD7\xE9\xBC\xFE...\xCD\xEA\xB3\xC9");
  EXPECT_EQ(GbkToUtf8(gbk), chinese);
  // A lone lead byte and a byte GBK never uses: replaced, the rest survives.
  EXPECT_EQ(GbkToUtf8("a\xFF" "b\x81"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToGbk("x\xE2\x82\xACy"), "x\x80y");  // the euro sign is in GBK as 0x80
  EXPECT_EQ(Utf8ToGbk("\xF0\x9F\x98\x80"), "?");       // an emoji is not
}

TEST(Text, Utf8AndUtf16ConvertStrictly) {
  const std::string text = "a\xC3\xA9\xE5\xBA\x93\xF0\x9F\x98\x80";  // 1, 2, 3 and 4 bytes
  std::u16string units;
  ASSERT_TRUE(Utf8ToUtf16(text, &units));
  EXPECT_EQ(units, (std::u16string{u'a', 0xE9, 0x5E93, 0xD83D, 0xDE00}));
  std::string back;
  ASSERT_TRUE(Utf16ToUtf8(units, &back));
  EXPECT_EQ(back, text);
  for (const char* bad : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xE5\xBA", "\xF0\x9F\x98", "\xC3x", "\xFF"}) {
    units.clear();
    EXPECT_FALSE(Utf8ToUtf16(std::string("x") + bad, &units)) << bad;
  }
  for (std::u16string bad : {std::u16string{0xD83D}, std::u16string{0xDE00, u'a'},
                             std::u16string{0xD83D, u'a'}, std::u16string{u'a', 0xD83D, 0xD83D}}) {
    back.clear();
    EXPECT_FALSE(Utf16ToUtf8(bad, &back));
  }
}

TEST(CommandLine, SplitsLikeWindowsPrograms) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitCommandLine(R"(a  b	c)"), (V{"a", "b", "c"}));
  EXPECT_EQ(SplitCommandLine(R"("/x y/bin"\dcc32.exe -U"/a b";"/c d" -M  "/s t/"p.dpk)"),
            (V{"/x y/bin\\dcc32.exe", "-U/a b;/c d", "-M", "/s t/p.dpk"}));
  EXPECT_EQ(SplitCommandLine(R"(a\\\"b "c""d" e\f)"), (V{"a\\\"b", "c\"d", "e\\f"}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());
}

// The batch form /library:"%~dp0" gives a quoted folder ending in a
// backslash: the switches after it stay switches.
TEST(CommandLine, ProgramArgumentsReadAQuotedFolderEndingInABackslash) {
  using V = std::vector<std::string>;
  EXPECT_EQ(ProgramArguments(R"("C:\a b\kestrin.com" /library:"C:\Dev Express\" /release:RAD2009 /compile)"),
            (V{"/library:C:\\Dev Express\\", "/release:RAD2009", "/compile"}));
  EXPECT_EQ(ProgramArguments(R"(kestrin.com /log:"C:\x\\"  /library:"C:\" /yes /library:"C:\d\")"),
            (V{"/log:C:\\x\\", "/library:C:\\", "/yes", "/library:C:\\d\\"}));
  // Elsewhere the Windows rules hold.
  EXPECT_EQ(ProgramArguments(R"(k.com a\"b "c\"d e" /x:C:\y\)"), (V{"a\"b", "c\"d e", "/x:C:\\y\\"}));
  EXPECT_TRUE(ProgramArguments(R"("C:\k.com")").empty());
}

TEST(MemoryRegistry, TextFormRoundTripsAndNamesIgnoreCase) {
  MemoryRegistry r;
  ASSERT_TRUE(r.LoadText("[Software\\Borland\\Delphi\\7.0]\n\"App\"=sz:C:\\D7\\delphi32.exe\n"
                         "\"RootDir\"=expand:%ROOT%\\D7\n\"Count\"=dword:7\n"));
  auto k = r.Open("software\\borland\\DELPHI\\7.0\\", RegAccess::Read);
  ASSERT_TRUE(k->IsOpen());
  std::string s;
  EXPECT_EQ(k->ReadString("app", &s), RegRead::Ok);
  EXPECT_EQ(s, "C:\\D7\\delphi32.exe");
  EXPECT_EQ(k->ReadString("RootDir", &s), RegRead::Ok);
  EXPECT_EQ(s, "%ROOT%\\D7");  // unexpanded
  EXPECT_EQ(k->ReadString("Count", &s), RegRead::WrongType);
  EXPECT_EQ(k->ReadString("None", &s), RegRead::Missing);
  EXPECT_FALSE(k->WriteString("App", "x"));  // opened for reading only
  MemoryRegistry copy;
  ASSERT_TRUE(copy.LoadText(r.DumpText()));
  EXPECT_EQ(copy.DumpText(), r.DumpText());
  EXPECT_FALSE(r.LoadText("\"orphan\"=sz:x\n"));
}

TEST(MemoryRegistry, MissingKeysAreNeverCreated) {
  MemoryRegistry r;
  auto k = r.Open("Software\\Nothing\\", RegAccess::ReadWrite);
  EXPECT_FALSE(k->IsOpen());
  EXPECT_TRUE(k->Missing());
  EXPECT_FALSE(k->WriteString("v", "d"));
  EXPECT_FALSE(r.KeyExists("Software\\Nothing"));
}

TEST(PosixFileSystem, WindowsPathsResolveWithoutRegardToCase) {
  TempDir d;
  d.Write("Lib/Library/Delphi7/dxCoreD7.bpl", "x");
  PosixFileSystem fs;
  EXPECT_TRUE(fs.FileExists(d.Root() + "lib\\LIBRARY\\delphi7\\DXCORED7.BPL"));
  EXPECT_TRUE(fs.DirExists(d.Root() + "Lib\\Library\\"));
  EXPECT_FALSE(fs.FileExists(d.Root() + "Lib\\Library"));
  EXPECT_EQ(fs.ShortPath(d.Root() + "missing"), "");
  d.Write("a b/x.txt", "");
  // No short names here: the long form comes back, and the command line
  // quotes it (a backslash must not end up before the closing quote).
  EXPECT_EQ(fs.ShortPath(d.Root() + "a b\\x.txt"), d.Path().string() + "/a b/x.txt");
  EXPECT_EQ(CommandLinePath(fs, d.Root() + "a b\\x.txt"), "\"" + d.Path().string() + "/a b/x.txt\"");
  // Without a short form (a path not there yet, a refused folder) the path
  // goes on as given, never dropped.
  EXPECT_EQ(CommandLinePath(fs, d.Root() + "no such\\Sources"), "\"" + d.Root() + "no such\\Sources\"");
  EXPECT_EQ(CommandLinePath(fs, "C:\\Lib\\Sources"), "C:\\Lib\\Sources");
}

TEST(PosixFileSystem, ReadOnlyAndLockedFilesBehaveAsOnWindows) {
  TempDir d;
  d.Write("f.bin", "abc");
  PosixFileSystem fs;
  const std::string f = d.Root() + "f.bin";
  ASSERT_TRUE(fs.SetAttributes(f, kAttrReadOnly));
  std::uint32_t a = 0;
  ASSERT_TRUE(fs.GetAttributes(f, &a));
  EXPECT_TRUE(a & kAttrReadOnly);
  EXPECT_EQ(fs.CreateWrite(f), nullptr);
  EXPECT_FALSE(fs.RemoveFile(f));
  ASSERT_TRUE(fs.SetAttributes(f, kAttrArchive));
  int fd = open((d.Path() / "f.bin").c_str(), O_RDONLY);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);  // another holder, without sharing
  EXPECT_EQ(fs.OpenRead(f, true), nullptr);
  EXPECT_EQ(fs.CreateWrite(f), nullptr);
  EXPECT_EQ(d.Read("f.bin"), "abc");  // untouched
  close(fd);
  EXPECT_NE(fs.CreateWrite(f), nullptr);
}

}  // namespace
}  // namespace kestrin
