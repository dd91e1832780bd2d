#include "core/host.h"

namespace kestrin {

void StopToken::Stop() {
  stopped_ = true;
  Wake();
}

void StopToken::StopAndEnd() {
  stopped_ = true;
  std::uint64_t none = 0;
  end_at_.compare_exchange_strong(none, Now() + kStopGraceMs);
  Wake();
}

long long StopToken::MsUntilEnd() const {
  const std::uint64_t end = end_at_;
  if (end == 0) return -1;
  const std::uint64_t now = Now();
  return now > end ? 0 : static_cast<long long>(end - now) + 1;
}

void StopToken::SetWaker(std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(waker_mutex_);
  waker_ = std::move(wake);
}

void StopToken::Wake() {
  std::lock_guard<std::mutex> lock(waker_mutex_);
  if (waker_) waker_();
}

}  // namespace kestrin
