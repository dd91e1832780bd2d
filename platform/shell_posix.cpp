#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "platform/posix_platform.h"
#include "platform/text.h"

extern char** environ;

namespace kestrin {
namespace {
void Detach(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0)
    waitpid(pid, nullptr, WNOHANG);
}
}  // namespace

void PosixShell::OpenUrl(std::string_view url) { Detach({"xdg-open", std::string(url)}); }
void PosixShell::StartCommandPrompt() { Detach({"x-terminal-emulator"}); }

std::string PosixShell::RoamingAppDataFolder() {
  const char* folder = std::getenv("APPDATA");
  std::string result = folder ? folder : "";
  while (!result.empty() && (result.back() == '\\' || result.back() == '/')) result.pop_back();
  return result;
}

std::string PosixShell::WindowsFolder() {
  const char* folder = std::getenv("KESTRIN_WINDOWS_FOLDER");
  std::string result = folder ? folder : "";
  while (!result.empty() && (result.back() == '\\' || result.back() == '/')) result.pop_back();
  return result;
}

std::string PosixShell::MachinePath() {
  const char* path = std::getenv("KESTRIN_MACHINE_PATH");
  return path ? path : "";
}

std::string PosixShell::ExpandEnvironment(std::string_view text) {
  return ExpandPercentNames(text, [](const std::string& name) -> std::optional<std::string> {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
  });
}

}  // namespace kestrin
