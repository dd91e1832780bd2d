// Control identifiers of the main window. The test program drives the window
// through these, so they are part of the program's outside face.
#pragma once

#include <cstddef>

namespace kestrin::ctl {

enum : int {
  kPathLabel = 100,
  kPathEdit = 101,
  kChooseFolderButton = 102,
  kMainFrame = 103,      // the frame around the three groups below
  kReleaseGroup = 104,
  kFirstRelease = 110,   // one release button per row of kIdeProfiles, in its order
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
  kDiagnoseButton = 139,
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

// The release button of row `index` of kIdeProfiles.
constexpr int ReleaseButton(std::size_t index) { return kFirstRelease + static_cast<int>(index); }

}  // namespace kestrin::ctl
