#include <gtest/gtest.h>

#include <chrono>

#include "compile/console_runner.h"
#include "tests/capture.h"
#include "tests/harness.h"

namespace kestrin {
namespace {
using test::CaptureOutput;
using test::CaptureResult;

std::string Emit() { return test::ToolsDir() + "/kestrin_emit.exe"; }

std::string Pattern(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>(i % 251);
  return s;
}

TEST(ConsoleRunner, NoOutputForAMissingProgramAndForASilentChild) {
  PosixProcessLauncher p;
  int turns = 0;
  auto turn = [&] { ++turns; };
  EXPECT_EQ(OutputText(CaptureOutput(p, "/no/such/dir\\dcc32.exe -LE x", turn).bytes), "没有输出!");
  EXPECT_EQ(OutputText(CaptureOutput(p, "", turn).bytes), "没有输出!");
  EXPECT_EQ(OutputText(CaptureOutput(p, Emit() + " 0", turn).bytes), "没有输出!");
}

TEST(ConsoleRunner, KeepsEveryByteOfALargeOutputWithZeroBytes) {
  PosixProcessLauncher p;
  for (const char* chunk : {"65536", "1000", "32768"}) {
    CaptureResult r = CaptureOutput(p, Emit() + " 5000000 " + chunk, [] {});
    ASSERT_TRUE(r.started);
    ASSERT_EQ(r.bytes.size(), 5000000u) << chunk;
    EXPECT_TRUE(r.bytes == Pattern(5000000)) << chunk;
  }
}

TEST(ConsoleRunner, OutputLeftInThePipeAfterTheEndIsCollected) {
  PosixProcessLauncher p;
  // The child writes 200 KB and ends at once: more than one read's worth
  // is still waiting when its end is seen.
  CaptureResult r = CaptureOutput(p, Emit() + " 200000 200000", nullptr);
  EXPECT_EQ(r.bytes.size(), 200000u);
  // A short message with a trailing line break keeps its last byte.
  EXPECT_EQ(OutputText(CaptureOutput(p, "/bin/echo hello", nullptr).bytes), "hello\n");
}

TEST(ConsoleRunner, TurnsWhileTheChildRunsAndChildHasNoInput) {
  PosixProcessLauncher p;
  int turns = 0;
  auto start = std::chrono::steady_clock::now();
  CaptureResult r = CaptureOutput(p, Emit() + " 10 1 50", [&] { ++turns; });
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.bytes.size(), 10u);
  // Ten pauses of 50 ms: the caller had its turn after each, not once a second.
  EXPECT_GE(turns, 10) << ms;
  EXPECT_EQ(OutputText(CaptureOutput(p, Emit() + " --stdin", nullptr).bytes), "stdin: none\n");
}

TEST(ConsoleRunner, AbortEndsAChildThatNeverEnds) {
  PosixProcessLauncher p;
  int passes = 0;
  CaptureResult r = CaptureOutput(p, "/bin/sleep 30", nullptr, [&] { return ++passes > 5; });
  EXPECT_TRUE(r.started);
  EXPECT_GT(passes, 5);
}

TEST(ConsoleRunner, QuotedPathsWithBlanksStayIntact) {
  test::TempDir d;
  std::filesystem::create_directories(d.Path() / "a b");
  std::filesystem::copy_file(Emit(), d.Path() / "a b" / "emit.exe");
  std::filesystem::permissions(d.Path() / "a b" / "emit.exe", std::filesystem::perms::owner_all);
  PosixFileSystem fs;
  PosixProcessLauncher p;
  std::string cmd = CommandLinePath(fs, d.Root() + "a b\\emit.exe") + " 3";
  CaptureResult r = CaptureOutput(p, cmd, nullptr);
  EXPECT_TRUE(r.started) << cmd;
  EXPECT_EQ(r.bytes, Pattern(3));
}

}  // namespace
}  // namespace kestrin
