#include "app/events.h"

namespace kestrin {

void EventQueue::Put(Event e) {
  bool was_empty;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    was_empty = events_.empty();
    events_.push_back(std::move(e));
  }
  if (was_empty && wake_) wake_();
}

std::optional<Event> EventQueue::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (events_.empty()) return std::nullopt;
  Event e = std::move(events_.front());
  events_.pop_front();
  return e;
}

bool QueuedHost::Ask(std::string_view text, std::string_view caption) {
  auto answer = std::make_shared<Answer>();
  // A stop with an end while the question waits answers it No.
  stop_.SetWaker([answer] {
    std::lock_guard<std::mutex> lock(answer->mutex);
    answer->given.notify_all();
  });
  queue_.Put(event::Question{std::string(text), std::string(caption), answer});
  bool yes = false;
  {
    std::unique_lock<std::mutex> lock(answer->mutex);
    answer->given.wait(lock, [&] { return answer->yes.has_value() || stop_.ending(); });
    yes = !stop_.ending() && answer->yes.value_or(false);
  }
  stop_.SetWaker({});
  return yes;
}

}  // namespace kestrin
