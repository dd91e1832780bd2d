// The order of a compile run, without processes, files or clock: which ticked
// package may start (every earlier ticked package it reaches through the
// requires graph has ended) and, among those that may, which starts first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrin {

// What is known of one package's project: its requires clause, that the
// library has no project of it (the IDE's own packages such as rtl or vcl: a
// leaf), or that it cannot be known (a library package whose project is
// missing or cannot be read).
struct Requires {
  enum class Kind { Known, NotInLibrary, Unknown };
  Kind kind = Kind::Unknown;
  std::vector<std::string> names;  // with Known: the clause's names
};

enum class StartOrder {
  ListOrder,          // the ready job earliest in the list
  LongestChainFirst,  // the ready job with the heaviest chain of jobs after it
};

class CompilePlan {
 public:
  // jobs: the ticked packages in build-list order, by module name as requires
  //   clauses name them (package + short suffix, "cxLibraryVCLD7"); names
  //   compare letter case aside.
  // requires_of: asked at most once per name the plan needs (ticked or not,
  //   in the build list or not), during the construction only.
  // weight: a job's expected compile time, or 0 when unknown; unknown ones
  //   weigh the mean of the known ones, or 1 when none is known. Without the
  //   function every job weighs 1.
  CompilePlan(std::vector<std::string> jobs,
              const std::function<Requires(std::string_view name)>& requires_of,
              const std::function<double(std::string_view name)>& weight = {},
              StartOrder order = StartOrder::LongestChainFirst);

  std::size_t Size() const { return jobs_.size(); }
  // The earlier jobs that `job` waits for, ascending: each earlier ticked
  // package it reaches through the requires graph, or every earlier job when
  // a project on its way cannot be known.
  const std::vector<std::size_t>& WaitsFor(std::size_t job) const { return jobs_[job].waitsFor; }

  enum class State : std::uint8_t { Waiting, Running, Done };
  State StateOf(std::size_t job) const { return jobs_[job].state; }

  // A waiting job has started. Ignored for a job that is not waiting.
  void Started(std::size_t job);
  // A job has ended, however: compiled, failed, could not start or never
  // started (a stopped run). Ignored for a job already done.
  void Done(std::size_t job);
  // The waiting job to start next among those whose every awaited job is
  // done, or nothing.
  std::optional<std::size_t> Next() const;

  // The weight of the heaviest chain of jobs from `job` through the jobs that
  // wait for it, directly or not, its own weight included.
  double Priority(std::size_t job) const { return jobs_[job].priority; }

 private:
  struct Job {
    std::vector<std::size_t> waitsFor;
    std::vector<std::size_t> waiters;  // the later jobs that wait for it
    std::size_t pending = 0;           // awaited jobs not done yet
    double priority = 0;
    State state = State::Waiting;
  };
  void Plan(const std::vector<std::string>& names,
            const std::function<Requires(std::string_view)>& requires_of);
  void Weigh(const std::vector<std::string>& names, const std::function<double(std::string_view)>& weight);

  std::vector<Job> jobs_;
  StartOrder order_;
};

}  // namespace kestrin
