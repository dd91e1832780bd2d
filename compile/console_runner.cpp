#include "compile/console_runner.h"

#include <utility>

#include "platform/text.h"

namespace kestrin {

CapturedChild& CapturedChild::operator=(CapturedChild&& other) noexcept {
  if (this == &other) return *this;
  Release();
  set_ = std::exchange(other.set_, nullptr);
  child_ = std::exchange(other.child_, nullptr);
  ended_ = other.ended_;
  exit_code_ = other.exit_code_;
  bytes = std::move(other.bytes);
  return *this;
}

bool CapturedChild::Start(ChildSet& set, std::string_view command_line) {
  set_ = &set;
  child_ = set.Start(command_line);
  return child_ != nullptr;
}

void CapturedChild::Release() {
  if (set_ && child_) set_->Remove(child_);
  child_ = nullptr;
}

std::size_t CapturedChild::Poll() {
  if (!child_ || ended_) return 0;
  std::size_t got = child_->ReadAvailable(&bytes);
  if (child_->Ended()) {
    ended_ = true;
    exit_code_ = child_->ExitCode();
    // An ended child has written everything into the pipe already.
    while (std::size_t more = child_->ReadAvailable(&bytes)) got += more;
  }
  return got;
}

void CapturedChild::Terminate() {
  if (child_ && !ended_) child_->Terminate();
}

std::string OutputText(std::string_view bytes) {
  if (bytes.empty()) return std::string(kNoOutput);
  return GbkToUtf8(bytes);
}

}  // namespace kestrin
