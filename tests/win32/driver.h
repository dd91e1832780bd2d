// Drives the real program from outside: starts kestrin.exe, finds its window
// and controls, reads and clicks them with window messages, and sets up the
// registry and files of the scenarios.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kt {

std::wstring W(const std::string& utf8);
std::string U(const std::wstring& wide);

// Polls `done` every 20 ms until it holds or `timeout_ms` passes.
bool WaitUntil(const std::function<bool()>& done, int timeout_ms);

// The folder of the test program, with a trailing backslash.
std::string TestFolder();

class Program {
 public:
  // Starts `exe` in `folder` and waits for its main window.
  Program(const std::string& exe, const std::string& folder, bool wait_for_window = true);
  Program(const Program&) = delete;  // it closes its process's handles once
  Program& operator=(const Program&) = delete;
  // Looks for the main window until it is shown.
  bool FindMain(int timeout_ms);
  ~Program();
  bool Started() const { return main_ != nullptr; }
  HWND Main() const { return main_; }
  DWORD Pid() const { return pi_.dwProcessId; }
  HANDLE Process() const { return pi_.hProcess; }
  HWND Ctl(int id) const;  // any control of the window, by id
  std::string Text(int id) const;
  std::string Caption() const;
  bool Enabled(int id) const { return IsWindowEnabled(Ctl(id)) != FALSE; }
  bool Visible(int id) const { return IsWindowVisible(Ctl(id)) != FALSE; }
  bool Checked(int id) const;
  // Enabled states of compile, verify, copy, install, uninstall and the
  // delete-BPL check box, as "1"/"0" characters.
  std::string States() const;
  RECT Place(int id) const;  // in the window's client coordinates, at 96 DPI
  // Clicks; refuses (returns false) when the control is disabled.
  bool Click(int id) const;
  // The build list, read through list-view messages.
  int ListCount() const;
  bool ListTicked(int index) const;
  std::string ListText(int index) const;
  std::vector<int> Ticked() const;
  std::vector<std::string> LogLines() const;
  std::string StatusText(int part) const;
  // A dialog of the program whose title starts with `title` (any dialog
  // when `title` is empty), or null when none appears in time.
  HWND WaitDialog(const std::string& title, int timeout_ms) const;
  std::string DialogText(HWND dialog) const;
  bool Responsive(int timeout_ms) const;
  // Waits until the running command has ended (the compile button is back
  // and enabled, and the log's last line closes a block).
  bool WaitIdle(int timeout_ms) const;
  // Posts WM_CLOSE and waits for the process to end.
  bool Close(int timeout_ms);
  bool WaitExit(int timeout_ms) const;

 private:
  std::string Remote(HWND target, UINT msg, WPARAM w, std::size_t size, bool wide_text) const;
  PROCESS_INFORMATION pi_{};
  HWND main_ = nullptr;
};

// Log lines: how many start with `prefix`; whether one holds `part`.
int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix);
bool Contains(const std::vector<std::string>& lines, const std::string& part);
bool Has(const std::vector<std::string>& lines, const std::string& line);

// Registry set-up and checks (HKEY_CURRENT_USER).
void RegDeleteTreeUtf8(const std::string& key);
void RegSetSz(const std::string& key, const std::string& name, const std::string& value);
void RegSetDword(const std::string& key, const std::string& name, DWORD value);
void RegCreate(const std::string& key);
bool RegRead(const std::string& key, const std::string& name, std::string* value, DWORD* type = nullptr);
std::vector<std::string> RegValueNames(const std::string& key);

// Files.
bool MakeDirs(const std::string& path);
bool WriteFileUtf8(const std::string& path, const std::string& data);
bool ReadFileUtf8(const std::string& path, std::string* data);
bool Exists(const std::string& path);
bool CopyFileUtf8(const std::string& from, const std::string& to);
void RemoveTree(const std::string& path);
std::vector<std::string> FilesIn(const std::string& folder, const std::string& pattern);

// Wine only: the Linux path of a Windows path, and a Linux program started
// (Wine starts Linux programs named by their Z: path, and gives no handle to
// wait on, and nothing in PROCESS_INFORMATION to close: callers wait for
// the program's effect). Used for what
// the Windows API of Wine cannot make, such as a directory symbolic link.
std::string UnixPath(const std::string& path);
bool RunUnix(const std::string& program, const std::vector<std::string>& args);
// Processes running now whose image file is named `exe` (letter case aside).
int CountProcesses(const std::wstring& exe);

// What a program started through cmd.exe wrote and its exit code.
struct Script {
  DWORD code = 0xFFFFFFFF;
  std::string out, err;
  std::vector<std::string> OutLines() const { return Lines(out); }
  std::vector<std::string> ErrLines() const { return Lines(err); }
  // For a failure's message: the exit code, standard error and what standard
  // output says beyond the compilers' own chatter and the program's lines for
  // each thing done ("... 成功."), which run to thousands of lines and 13 KB
  // for the README's full install; what is left, a few lines with the long
  // ones cut, names the step that did not complete and why, and fits where a
  // failure is repeated at the end of the run.
  std::string Digest() const {
    std::string d;
    int done = 0;
    for (const std::string& line : OutLines()) {
      if (line.find("stand-in") != std::string::npos || line.find(") Hint: ") != std::string::npos ||
          line.find(") Warning: ") != std::string::npos || line.find(" lines, ") != std::string::npos ||
          line.rfind("编译：", 0) == 0)
        continue;
      if (line.size() >= 7 && line.compare(line.size() - 7, 7, "成功.") == 0) {
        ++done;
      } else if (line.size() > 400) {  // a search path: its start, cut between characters
        std::size_t cut = 400;
        while ((line[cut] & 0xC0) == 0x80) --cut;
        d += line.substr(0, cut) + " [... " + std::to_string(line.size()) + " bytes]\n";
      } else {
        d += line + "\n";
      }
    }
    return "exit code " + std::to_string(code) + " (" + std::to_string(done) + " lines of what succeeded left out)\n" +
           err + d;
  }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      start = end + 1;
    }
    return lines;
  }
};

// `cmd.exe /c <command>`, as a batch file or a CI runner would start it,
// with standard output and error read through pipes.
Script RunScript(const std::string& command, int timeout_ms = 600000);

}  // namespace kt
