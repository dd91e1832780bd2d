// Screenshot scenario (Win32, run under Wine by bench/run-win32-screenshots.sh):
// the real window after a compile in which one package fails (and the
// packages that need it with it), then after a verify; it prints a line
// when each is on screen and waits a while for the picture to be taken.
#include <windows.h>

#include <cstdio>

#include "app/controls.h"
#include "tests/win32/scenario.h"

int main() {
  using namespace kt;
  using namespace kestrin::ctl;
  Scenario s("C:\\kestrin-bench\\截图\\DevExpress VCL\\", {"D7"});
  s.RegisterIde(1);
  SetEnvironmentVariableW(L"KESTRIN_DCC_FAIL", L"dxCoreD7");
  Program p(s.Exe(), s.library);
  if (!p.Started() || !p.Click(ReleaseButton(1))) return 1;
  WaitUntil([&] { return p.States() == "110011"; }, 10000);
  p.Click(kSelectAllButton);
  WaitUntil([&] { return p.Ticked().size() == 171; }, 10000);
  p.Click(kParallelCheck);
  p.Click(kCompileButton);
  WaitUntil([&] { return p.Visible(kStopButton); }, 10000);
  p.WaitIdle(300000);
  std::printf("ready: compiled\n");
  std::fflush(stdout);
  Sleep(5000);
  p.Click(kVerifyButton);
  p.WaitIdle(60000);
  std::printf("ready: verified\n");
  std::fflush(stdout);
  Sleep(5000);
  p.Close(10000);
  return 0;
}
