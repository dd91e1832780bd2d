// Control identifiers of the main window. The test program drives the window
// through these, so they are part of the program's outside face.
#pragma once

namespace kestrin::ctl {

enum : int {
  kLabel2 = 100,
  kEditPath = 101,
  kSelectDevDir = 102,
  kGroupBox3 = 103,
  kGroupBox5 = 104,
  kDelphi6 = 110,  // the seven release buttons follow in table order
  kDelphi7 = 111,
  kDelphi8 = 112,
  kDelphi2005 = 113,
  kBDS2006 = 114,
  kRAD2007 = 115,
  kRAD2009 = 116,
  kGroupBox2 = 120,
  kCheckListBox1 = 121,
  kBtnSelect = 122,
  kBtnUnSelect = 123,
  kGroupBox4 = 130,
  kBtnCompile = 131,
  kBtnStop = 132,
  kButton4 = 133,   // verify
  kButton10 = 134,  // copy
  kButton8 = 135,   // install
  kButton9 = 136,   // uninstall
  kCheckBox1 = 137,
  kGauge1 = 140,
  kPageControl1 = 150,
  kMemo1 = 151,
  kMemoLog = 152,
  kLabel1 = 160,
  kButton11 = 161,
  kButton5 = 162,
  kButton6 = 163,
  kButton7 = 164,
  kBtnExit = 165,
  kStatusBar1 = 170,
  kMenuSaveLog = 180,  // S1 of the log page's pop-up menu
};

constexpr int kFirstIde = kDelphi6;
constexpr int kIdeCount = 7;

}  // namespace kestrin::ctl
