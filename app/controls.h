// Control identifiers of the main window. The test program drives the window
// through these, so they are part of the program's outside face.
#pragma once

namespace kestrin::ctl {

enum : int {
  kPathLabel = 100,
  kPathEdit = 101,
  kChooseFolderButton = 102,
  kMainFrame = 103,      // the frame around the three groups below
  kReleaseGroup = 104,
  kDelphi6 = 110,        // the seven release buttons follow in the order of kIdeProfiles
  kDelphi7 = 111,
  kDelphi8 = 112,
  kBds2005 = 113,
  kBds2006 = 114,
  kRad2007 = 115,
  kRad2009 = 116,
  kPackageGroup = 120,
  kBuildList = 121,
  kSelectAllButton = 122,
  kClearAllButton = 123,
  kCommandGroup = 130,
  kCompileButton = 131,
  kStopButton = 132,
  kVerifyButton = 133,
  kCopyButton = 134,
  kInstallButton = 135,
  kUninstallButton = 136,
  kDeleteBplCheck = 137,
  kParallelCheck = 138,  // compile several packages at once
  kProgressGauge = 140,
  kPanes = 150,          // the tabs of the command pane and the log
  kCommandPane = 151,
  kLogPane = 152,
  kForumLink = 160,
  kClearCommandsButton = 161,
  kClearLogButton = 162,
  kCopyCommandsButton = 163,
  kRunCmdButton = 164,
  kExitButton = 165,
  kStatusBar = 170,
  kSaveLogMenu = 180,    // the log page's pop-up menu entry
};

constexpr int kFirstRelease = kDelphi6;

}  // namespace kestrin::ctl
