// The Win32 platform layer against the real registry, files and processes.
#include <gtest/gtest.h>

#include "compile/console_runner.h"
#include "tests/capture.h"
#include "ide/deploy.h"
#include "ide/uninstall.h"
#include "platform/text.h"
#include "platform/win32_platform.h"
#include "tests/win32/driver.h"

namespace kt {
namespace {
using namespace kestrin;
using kestrin::test::CaptureOutput;
using kestrin::test::CaptureResult;

const std::string kKey = "Software\\KestrinTest\\Probe";

TEST(Win32Registry, ReadsTextValuesOnlyAndNeverCreatesKeys) {
  RegDeleteTreeUtf8("Software\\KestrinTest");
  RegSetSz(kKey, "App", "C:\\程序\\delphi32.exe");
  RegSetDword(kKey, "Number", 5);
  HKEY k;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, W(kKey).c_str(), 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  std::wstring expand = L"%SystemRoot%\\x";
  RegSetValueExW(k, L"Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand.c_str()),
                 DWORD((expand.size() + 1) * 2));
  RegCloseKey(k);
  Win32Registry reg;
  auto key = reg.Open(kKey + "\\", RegAccess::Read);
  ASSERT_TRUE(key->IsOpen());
  std::string v;
  EXPECT_EQ(key->ReadString("app", &v), RegRead::Ok);
  EXPECT_EQ(v, "C:\\程序\\delphi32.exe");
  EXPECT_EQ(key->ReadString("Expand", &v), RegRead::Ok);
  EXPECT_EQ(v, "%SystemRoot%\\x");
  EXPECT_EQ(key->ReadString("Number", &v), RegRead::WrongType);
  EXPECT_EQ(key->ReadString("None", &v), RegRead::Missing);
  EXPECT_TRUE(key->HasValue("NUMBER"));
  EXPECT_FALSE(key->WriteString("App", "x"));
  auto rw = reg.Open(kKey + "\\", RegAccess::ReadWrite);
  EXPECT_TRUE(rw->WriteString("路径 值", "数据"));
  std::string back;
  DWORD type = 0;
  ASSERT_TRUE(RegRead(kKey, "路径 值", &back, &type));
  EXPECT_EQ(back, "数据");
  EXPECT_EQ(type, DWORD(REG_SZ));
  EXPECT_TRUE(rw->DeleteValue("路径 值"));
  EXPECT_FALSE(RegRead(kKey, "路径 值", nullptr));
  auto missing = reg.Open("Software\\KestrinTest\\Missing\\", RegAccess::ReadWrite);
  EXPECT_FALSE(missing->IsOpen());
  EXPECT_FALSE(missing->WriteString("v", "d"));
  HKEY probe;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\KestrinTest\\Missing", 0, KEY_READ, &probe),
            ERROR_SUCCESS);
  RegDeleteTreeUtf8("Software\\KestrinTest");
}

TEST(Win32FileSystem, ShortNamesListingsAndSharing) {
  const std::string root = TestFolder() + "fs 测试\\";
  RemoveTree(root.substr(0, root.size() - 1));
  MakeDirs(root + "Express Bars 6\\Sources");
  Win32FileSystem fs;
  std::string sp = fs.ShortPath(root + "Express Bars 6\\Sources");
  ASSERT_FALSE(sp.empty());
  EXPECT_EQ(sp.find(' '), std::string::npos);
  wchar_t longer[MAX_PATH];
  GetLongPathNameW(W(sp).c_str(), longer, MAX_PATH);
  EXPECT_TRUE(EqualsNoCase(U(longer), root + "Express Bars 6\\Sources"));
  EXPECT_EQ(fs.ShortPath(root + "missing"), "");
  std::string with_slash = fs.ShortPath(root + "Express Bars 6\\");
  EXPECT_EQ(with_slash.back(), '\\');

  WriteFileUtf8(root + "b.bpl", "b");
  WriteFileUtf8(root + "a.bpl", "a");
  SetFileAttributesW(W(root + "a.bpl").c_str(), FILE_ATTRIBUTE_HIDDEN);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(fs.ListDir(root, &entries));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "Express Bars 6");
  EXPECT_TRUE(entries[0].IsDir());
  EXPECT_EQ(entries[1].name, "a.bpl");
  EXPECT_TRUE(entries[1].attributes & kAttrHidden);

  HANDLE held = CreateFileW(W(root + "b.bpl").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(fs.OpenRead(root + "b.bpl", true), nullptr);
  EXPECT_EQ(OverwriteAndDeleteFile(fs, root + "b.bpl"), DeleteResult::Failed);
  auto error = CopyFileByStream(fs, root + "a.bpl", root + "b.bpl", GetCurrentProcessId());
  ASSERT_TRUE(error.has_value());
  EXPECT_FALSE(error->empty());
  CloseHandle(held);
  std::string bytes;
  ReadFileUtf8(root + "b.bpl", &bytes);
  EXPECT_EQ(bytes, "b");
  EXPECT_FALSE(CopyFileByStream(fs, root + "a.bpl", root + "b.bpl", GetCurrentProcessId()).has_value());
  ReadFileUtf8(root + "b.bpl", &bytes);
  EXPECT_EQ(bytes, "a");

  std::string big(1000, 'z');
  WriteFileUtf8(root + "ro.bpl", big);
  SetFileAttributesW(W(root + "ro.bpl").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(OverwriteAndDeleteFile(fs, root + "ro.bpl"), DeleteResult::Deleted);
  EXPECT_FALSE(Exists(root + "ro.bpl"));
  EXPECT_EQ(OverwriteAndDeleteFile(fs, root + "gone.bpl"), DeleteResult::Missing);
  EXPECT_FALSE(Exists(root + "gone.bpl"));
  RemoveTree(root.substr(0, root.size() - 1));
}

// Paths past MAX_PATH: every file operation of the layer reaches them, and a
// short name comes back without the long-path prefix.
TEST(Win32FileSystem, PathsLongerThanMaxPath) {
  std::string deep = TestFolder() + "long 路径";
  while (deep.size() < 300) deep += "\\folder with blanks";
  Win32FileSystem fs;
  ASSERT_TRUE(MakeDirs(fs, deep));
  const std::string file = deep + "\\dxCoreD7.bpl";
  ASSERT_TRUE(WriteWholeFile(fs, file, std::string(70000, 'q')));
  EXPECT_EQ(fs.Probe(file), PathKind::File);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(fs.ListDir(deep, &entries));
  ASSERT_EQ(entries.size(), 1u);
  const std::string sp = fs.ShortPath(file);
  EXPECT_FALSE(sp.empty());
  EXPECT_NE(sp.rfind("\\\\?\\", 0), 0u);
  EXPECT_EQ(OverwriteAndDeleteFile(fs, file), DeleteResult::Deleted);
  EXPECT_EQ(fs.Probe(file), PathKind::Missing);
  RemoveTree(TestFolder() + "long 路径");
}

std::string Pattern(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(i % 251);
  return s;
}

TEST(Win32Processes, EveryByteThroughThePipeAndNoInput) {
  Win32ProcessLauncher p;
  const std::string emit = Win32FileSystem().ShortPath(TestFolder() + "kestrin_emit.exe");
  ASSERT_FALSE(emit.empty());
  CaptureResult r = CaptureOutput(p, emit + " 5000000 65536", [] {});
  ASSERT_TRUE(r.started);
  EXPECT_EQ(r.bytes.size(), 5000000u);
  EXPECT_TRUE(r.bytes == Pattern(5000000));
  EXPECT_EQ(OutputText(CaptureOutput(p, "C:\\no\\such\\dcc32.exe -Q", nullptr).bytes), "没有输出!");
  EXPECT_EQ(OutputText(CaptureOutput(p, emit + " 0", nullptr).bytes), "没有输出!");
  EXPECT_EQ(OutputText(CaptureOutput(p, emit + " --stdin", nullptr).bytes), "stdin: none\n");
}

TEST(Win32Processes, WindowMessagesAreHandledWhileTheChildRuns) {
  Win32ProcessLauncher p;
  const std::string emit = Win32FileSystem().ShortPath(TestFolder() + "kestrin_emit.exe");
  int pumped = 0;
  ULONGLONG longest = 0, last = GetTickCount64();
  CaptureResult r = CaptureOutput(p, emit + " 20 1 60", [&] {
    ULONGLONG now = GetTickCount64();
    if (now - last > longest) longest = now - last;
    last = now;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ++pumped;
  });
  EXPECT_EQ(r.bytes.size(), 20u);
  EXPECT_LT(longest, 250u);  // the pump is never starved for long
  (void)pumped;
}

TEST(Win32Text, GbkBothWays) {
  EXPECT_EQ(Utf8ToGbk("编译"), "\xB1\xE0\xD2\xEB");
  EXPECT_EQ(GbkToUtf8("\xB1\xE0\xD2\xEB"), "编译");
  EXPECT_EQ(GbkToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace kt
