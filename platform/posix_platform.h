// The POSIX implementations of the platform interfaces, for Linux builds.
#pragma once

#include <atomic>
#include <string>

#include "platform/console.h"
#include "platform/filesystem.h"
#include "platform/process.h"
#include "platform/shell.h"

namespace kestrin {

// Windows paths become POSIX paths here: backslashes turn into slashes, and a
// name that is missing in its exact letter case is looked up without regard
// to case, as Windows would. A leading dot marks a hidden entry; an entry
// without any write bit is read-only, and read-only is enforced as Windows
// enforces it (no rewrite, no delete), also for root.
class PosixFileSystem : public FileSystem {
 public:
  bool FileExists(std::string_view path) override;
  PathKind Probe(std::string_view path) override;
  bool Inspect(std::string_view path, FileInfo* info) override;
  bool DirExists(std::string_view path) override;
  bool MakeDir(std::string_view path) override;
  // There are no short names: an existing path comes back as given, as on a
  // Windows volume with 8.3 names switched off.
  std::string ShortPath(std::string_view path) override;
  // Without short names an existing path is already in its long form.
  std::string LongPath(std::string_view path) override;
  // A path from the root of the file system ("/...", or "\..." before the
  // backslashes turn into slashes).
  bool IsFullyQualified(std::string_view path) override;
  bool ListDir(std::string_view folder, std::vector<DirEntry>* out) override;
  bool GetAttributes(std::string_view path, std::uint32_t* attrs) override;
  bool SetAttributes(std::string_view path, std::uint32_t attrs) override;
  std::unique_ptr<File> OpenRead(std::string_view path, bool exclusive) override;
  std::unique_ptr<File> CreateWrite(std::string_view path) override;
  bool RemoveFile(std::string_view path) override;
  bool ReplaceWith(std::string_view from, std::string_view to) override;
  std::string LastError() override;
  std::string ExecutableFolder() override;
  // Linux has no folder that Windows programs load DLLs from: always empty.
  std::string SystemFolder() override;

  // The POSIX path for a program path, resolving letter case.
  static std::string Resolve(std::string_view path);

 private:
  // The resolved path (empty, with the error set, for an empty path).
  std::string Checked(std::string_view path);
};

class PosixProcessLauncher : public ProcessLauncher {
 public:
  std::unique_ptr<ChildSet> NewChildSet() override;
  std::string LastError() override;
  int UsableProcessors() override;
  bool IsRunning(std::string_view image_path) override;
  void TrimWorkingSet() override {}
  std::uint32_t CurrentProcessId() override;
};

class PosixConsole : public Console {
 public:
  PosixConsole();
  bool WriteOut(std::string_view line) override;
  bool WriteErr(std::string_view line) override;
  bool Broken() override;
  void CatchInterrupts() override;
  bool Interrupted() override;
  void HandleQueuedMessages() override {}

 private:
  bool Write(int fd, std::string_view line);
  std::atomic<bool> broken_{false};  // written by the command's thread, read by the main one
};

class PosixShell : public Shell {
 public:
  std::optional<std::string> PickFolder(std::string_view) override { return std::nullopt; }
  std::optional<std::string> PickSaveFile(std::string_view, std::string_view) override {
    return std::nullopt;
  }
  void OpenUrl(std::string_view url) override;
  void StartCommandPrompt() override;
  void AnnounceEnvironmentChange() override {}
  // $APPDATA, as a Windows program started from this environment would
  // see it; empty when it is not set.
  std::string RoamingAppDataFolder() override;
  // $KESTRIN_WINDOWS_FOLDER and $KESTRIN_MACHINE_PATH stand for the Windows
  // folder and the machine's PATH; empty when they are not set.
  std::string WindowsFolder() override;
  std::string MachinePath() override;
  // %NAME% from this process's environment.
  std::string ExpandEnvironment(std::string_view text) override;
  std::string LastError() override { return "APPDATA is not set"; }
};

}  // namespace kestrin
