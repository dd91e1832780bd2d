// What a command running on its own thread tells the window, as events in
// the order it told them: the host it runs with puts each into a queue and
// wakes the window, which takes them on its own thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include "app/dispatch.h"
#include "core/host.h"

namespace kestrin {

// The window's answer to a question; the command waits for it.
struct Answer {
  std::mutex mutex;
  std::condition_variable given;
  std::optional<bool> yes;
  void Give(bool y) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!yes) yes = y;
    }
    given.notify_all();
  }
};

namespace event {
struct Log { std::string text; };
struct ShowLog {};
struct Note { std::string text; };
struct ClearNotes {};
struct Running { bool on; };
struct Progress { int position, maximum; };
struct Caption { std::string text; };
struct PackageStarted { std::size_t row; };
struct PackageEnded { PackageResult result; };
struct Found { Finding finding; };
struct Message { std::string text, caption; MessageIcon icon; };
struct Question { std::string text, caption; std::shared_ptr<Answer> answer; };
struct Ended { CommandOutcome outcome; };
}  // namespace event

using Event = std::variant<event::Log, event::ShowLog, event::Note, event::ClearNotes, event::Running,
                           event::Progress, event::Caption, event::PackageStarted, event::PackageEnded,
                           event::Found, event::Message, event::Question, event::Ended>;

// Events in order, put from any thread and taken on the window's. `wake` is
// called when an event arrives in an empty queue: the window takes
// everything there is when it wakes.
class EventQueue {
 public:
  explicit EventQueue(std::function<void()> wake) : wake_(std::move(wake)) {}
  void Put(Event e);
  // The next event, or nothing when none waits.
  std::optional<Event> Take();

 private:
  std::mutex mutex_;
  std::deque<Event> events_;
  std::function<void()> wake_;
};

// The host of a command run for the window: every call an event in the
// queue; a question waits for the window's answer, or for a stop with an
// end, which answers No.
class QueuedHost : public Host {
 public:
  QueuedHost(EventQueue& queue, StopToken& stop) : queue_(queue), stop_(stop) {}
  void Log(std::string_view text) override { queue_.Put(event::Log{std::string(text)}); }
  void ShowLog() override { queue_.Put(event::ShowLog{}); }
  void Note(std::string_view text) override { queue_.Put(event::Note{std::string(text)}); }
  void ClearNotes() override { queue_.Put(event::ClearNotes{}); }
  void Running(bool on) override { queue_.Put(event::Running{on}); }
  void Progress(int position, int maximum) override { queue_.Put(event::Progress{position, maximum}); }
  void Caption(std::string_view text) override { queue_.Put(event::Caption{std::string(text)}); }
  void PackageStarted(std::size_t row) override { queue_.Put(event::PackageStarted{row}); }
  void PackageEnded(std::size_t, const PackageResult& result) override { queue_.Put(event::PackageEnded{result}); }
  void Found(const Finding& finding) override { queue_.Put(event::Found{finding}); }
  void Message(std::string_view text, std::string_view caption, MessageIcon icon) override {
    queue_.Put(event::Message{std::string(text), std::string(caption), icon});
  }
  bool Ask(std::string_view text, std::string_view caption) override;
  StopToken& Stop() override { return stop_; }

 private:
  EventQueue& queue_;
  StopToken& stop_;
};

}  // namespace kestrin
