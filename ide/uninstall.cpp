#include "ide/uninstall.h"

#include <string>
#include <vector>

#include "ide/deploy.h"
#include "ide/env_options.h"
#include "ide/user_path.h"
#include "platform/text.h"
#include "targets/ide_registry.h"
#include "targets/ide_running.h"
#include "targets/library_folder.h"

namespace kestrin {

DeleteResult OverwriteAndDeleteFile(FileSystem& fs, std::string_view path, std::string* reason) {
  auto fail = [&] {
    if (reason) *reason = fs.LastError();
    return DeleteResult::Failed;
  };
  switch (fs.Probe(path)) {
    case PathKind::Missing:
    case PathKind::Directory: return DeleteResult::Missing;
    case PathKind::Error: return fail();
    case PathKind::File: break;
  }
  // Never write through a name that is not the only way to the content.
  FileInfo info;
  if (!fs.Inspect(path, &info)) return fail();
  if (info.reparse || info.links > 1) {
    if (fs.RemoveFile(path)) return DeleteResult::Deleted;
    std::uint32_t a = 0;
    if (fs.GetAttributes(path, &a) && (a & kAttrReadOnly) &&
        fs.SetAttributes(path, a & ~std::uint32_t{kAttrReadOnly}) && fs.RemoveFile(path))
      return DeleteResult::Deleted;
    return fail();
  }
  long long size = -1;
  if (auto probe = fs.OpenRead(path, true)) {
    size = probe->Size();
    probe->Close();
  }
  std::uint32_t attributes = 0;
  const bool had_attributes = fs.GetAttributes(path, &attributes);
  const bool reset = had_attributes && attributes != kAttrArchive &&
                     fs.SetAttributes(path, kAttrArchive);
  auto file = fs.CreateWrite(path);
  if (!file) {
    const DeleteResult r = fail();
    if (reset) fs.SetAttributes(path, attributes);  // the file stays as it was
    return r;
  }
  // In fixed blocks: a file of any size is rewritten without holding it.
  constexpr std::size_t kBlock = 64 * 1024;
  const std::string block(kBlock, 'X');
  std::string error;
  bool written = true;
  for (long long left = size > 2 ? size - 2 : 0; written && left > 0;) {
    const std::size_t n = left < static_cast<long long>(kBlock) ? static_cast<std::size_t>(left) : kBlock;
    written = file->Write(std::string_view(block.data(), n));
    left -= static_cast<long long>(n);
  }
  written = written && file->Write("\r\n");
  if (!written) error = fs.LastError();
  const bool closed = file->Close();
  if (!closed && error.empty()) error = fs.LastError();
  const bool deleted = fs.RemoveFile(path);
  if (!deleted && error.empty()) error = fs.LastError();
  if (written && closed && deleted) return DeleteResult::Deleted;
  if (reason) *reason = error;
  return DeleteResult::Failed;
}

namespace {

// Returns the number of entries that could not be removed.
int RegistryPass(Session& s, const Target& c, const std::string& key_path,
                 std::string_view header) {
  const IdeProfile& ide = *c.release;
  auto key = s.registry.Open(key_path, RegAccess::ReadWrite);
  s.Log(kLogOpen);
  s.Log(header);
  // A key that is there but cannot be opened is not an empty key.
  if (!key->IsOpen() && !key->Missing()) {
    s.Log("无法打开注册表键 " + key_path + ": " + key->LastError());
    return 1;
  }
  int failures = 0;
  for (std::string_view name : DesignNames(ide.family)) {
    const std::string value = PackageFile(OutputFolder(c), Trim(name), c.shortSuffix(), ".bpl");
    if (!key->HasValue(value)) continue;
    if (!key->DeleteValue(value)) {
      s.Log("删除：" + value + " 失败. " + key->LastError());
      ++failures;
      continue;
    }
    if (ide.uninstall.logsEachValue) s.Log("删除：" + value);
  }
  return failures;
}

// Returns how many files could not be deleted.
template <class Names>
int DeleteFiles(Session& s, std::string_view suffix, const Names& names, const std::string& folder,
                std::string_view success_prefix) {
  int failures = 0;
  for (const auto& name : names) {
    const std::string path = PackageFile(folder, Trim(name), suffix, ".BPL");
    std::string reason;
    switch (OverwriteAndDeleteFile(s.fs, path, &reason)) {
      case DeleteResult::Deleted:
        s.Log(std::string(success_prefix) + path + " 成功.");
        break;
      case DeleteResult::Failed:
        s.Log("删除：" + path + " 失败." + (reason.empty() ? "" : " " + reason));
        ++failures;
        break;
      case DeleteResult::Missing:
        break;
    }
  }
  return failures;
}

}  // namespace

CommandResult Uninstall(Session& s, const UninstallRequest& request) {
  CommandResult result;
  const Target& c = request.target;
  if (!CommandMayStart(s, c, {.library = false}, result)) return result;
  s.host.ShowLog();
  if (const IdeProfile* release = c.release) {
    const IdeProfile& ide = *release;
    int failures = RegistryPass(s, c, KnownPackagesKey(ide), "从注册表中删除设计时包信息...");
    failures += RegistryPass(s, c, DisabledPackagesKey(ide), ide.uninstall.disabledHeader);
    s.host.Note(failures == 0 ? std::string("删除设计时包信息成功.")
                                           : "部分设计时包信息未能删除(" +
                                                 std::to_string(failures) + " 项), 详见日志.");
    // The PATH entry a copy without administrator rights made, if any.
    if (!c.library.empty()) failures += !RemoveOutputFolderFromUserPath(s, c);
    failures += !ForceEnvOptionsUpdate(s, ide);
    if (request.deletePackageFiles) {
      const std::string system_folder = s.fs.SystemFolder();
      if (system_folder.empty())
        throw CommandError("无法取得系统目录, 未删除任何包文件: " + s.fs.LastError());
      s.Log(kLogOpen);
      s.Log("删除组件安装目录下的设计时包文件...");
      // Without a library folder there is nothing of the library to delete,
      // and nothing relative to the current folder is ever touched.
      if (!c.library.empty()) {
        failures += DeleteFiles(s, c.shortSuffix(), request.packages.rows(), OutputFolder(c), "删除：");
        RemoveTemporaryLeftovers(s, OutputFolder(c));
      }
      s.Log(kLogOpen);
      s.Log(ide.uninstall.systemHeader);
      RemoveTemporaryLeftovers(s, system_folder);
      failures += DeleteFiles(s, c.shortSuffix(), RuntimePackages(ide.family), system_folder,
                              ide.uninstall.systemPrefix);
    }
    result.failures = failures;
  }
  s.LogDone();
  s.processes.TrimWorkingSet();
  result.started = true;
  return result;
}

}  // namespace kestrin
