// The Win32 implementations of the platform interfaces.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/win32_registry.h"

namespace kestrin {

class Win32FileSystem : public FileSystem {
 public:
  bool FileExists(std::string_view path) override;
  PathKind Probe(std::string_view path) override;
  bool Inspect(std::string_view path, FileInfo* info) override;
  bool DirExists(std::string_view path) override;
  bool MakeDir(std::string_view path) override;
  std::string ShortPath(std::string_view path) override;
  std::string LongPath(std::string_view path) override;
  bool IsFullyQualified(std::string_view path) override { return IsFullyQualifiedWindowsPath(path); }
  bool ListDir(std::string_view folder, std::vector<DirEntry>* out) override;
  bool GetAttributes(std::string_view path, std::uint32_t* attrs) override;
  bool SetAttributes(std::string_view path, std::uint32_t attrs) override;
  std::unique_ptr<File> OpenRead(std::string_view path, bool exclusive) override;
  std::unique_ptr<File> CreateWrite(std::string_view path) override;
  bool RemoveFile(std::string_view path) override;
  bool ReplaceWith(std::string_view from, std::string_view to) override;
  std::string LastError() override;
  std::string ExecutableFolder() override;
  std::string SystemFolder() override;
};

class Win32ProcessLauncher : public ProcessLauncher {
 public:
  std::unique_ptr<ChildSet> NewChildSet() override;
  std::string LastError() override;
  int UsableProcessors() override;
  bool IsRunning(std::string_view image_path) override;
  void TrimWorkingSet() override;
  std::uint32_t CurrentProcessId() override { return GetCurrentProcessId(); }
};

class Win32Shell : public Shell {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  std::optional<std::string> PickFolder(std::string_view title) override;
  std::optional<std::string> PickSaveFile(std::string_view filter,
                                          std::string_view initial_folder) override;
  void OpenUrl(std::string_view url) override;
  void StartCommandPrompt() override;
  void AnnounceEnvironmentChange() override;
  std::string RoamingAppDataFolder() override;
  std::string WindowsFolder() override;
  std::string MachinePath() override;
  std::string ExpandEnvironment(std::string_view text) override;
  std::string LastError() override;

 private:
  HWND owner_ = nullptr;
  // The window's thread asks for dialogs, a command's thread for folders
  // and the environment.
  std::atomic<HRESULT> last_error_{S_OK};
};

class Win32Console : public Console {
 public:
  // `attach_parent`: a window program without redirected handles writes to
  // the console of the program that started it, if there is one.
  explicit Win32Console(bool attach_parent = false);
  bool WriteOut(std::string_view line) override;
  bool WriteErr(std::string_view line) override;
  bool Broken() override;
  void CatchInterrupts() override;
  bool Interrupted() override;
  void HandleQueuedMessages() override;

 private:
  bool Write(HANDLE h, std::string_view line);
  HANDLE out_ = nullptr, err_ = nullptr;
  std::atomic<bool> broken_{false};  // written by the command's thread, read by the main one
};

// Every Win32 service the program uses, in one place.
struct Win32Services {
  Win32Registry registry;
  Win32FileSystem fs;
  Win32ProcessLauncher processes;
  Win32Shell shell;
};

// The program's arguments (without its own name), in UTF-8.
std::vector<std::string> Win32Arguments();

// The system's text for an error code, in UTF-8, without the line break.
std::string SystemErrorText(DWORD code);

}  // namespace kestrin
