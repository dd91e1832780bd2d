#include "compile/compile_plan.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/text.h"
#include "tools/mklib/samplelib.h"

namespace kestrin {
namespace {

using Graph = std::map<std::string, Requires>;  // lower-case name -> its project
using Waits = std::vector<std::size_t>;

// A requires_of over a fixed graph that counts its questions; names missing
// from the graph are the IDE's own.
struct Projects {
  Graph graph;
  std::map<std::string, int> asked;
  std::function<Requires(std::string_view)> Fn() {
    return [this](std::string_view name) {
      const std::string key = ToLowerAscii(name);
      ++asked[key];
      auto it = graph.find(key);
      return it != graph.end() ? it->second : Requires{Requires::Kind::NotInLibrary, {}};
    };
  }
};

Requires Known(std::vector<std::string> names) { return {Requires::Kind::Known, std::move(names)}; }

// Runs the plan with `compilers` at once, every job taking its weight in
// whole time steps; returns the jobs in the order they started and the time
// the last one ended.
std::pair<Waits, int> Simulate(CompilePlan& plan, int compilers, const std::vector<int>& length) {
  Waits started;
  std::map<std::size_t, int> running;  // job -> when it ends
  int now = 0;
  for (;;) {
    while (static_cast<int>(running.size()) < compilers) {
      auto next = plan.Next();
      if (!next) break;
      plan.Started(*next);
      started.push_back(*next);
      running[*next] = now + length[*next];
    }
    if (running.empty()) break;
    now = std::min_element(running.begin(), running.end(),
                           [](auto& a, auto& b) { return a.second < b.second; })->second;
    for (auto it = running.begin(); it != running.end();) {
      if (it->second != now) {
        ++it;
        continue;
      }
      plan.Done(it->first);
      it = running.erase(it);
    }
  }
  return {started, now};
}

TEST(CompilePlan, WaitsForEveryEarlierJobItReaches) {
  // A and C ticked; B between them is not, and names C's way to A in another
  // letter case. D is ticked after A but reached only from A: A never waits
  // for a later job.
  Projects p;
  p.graph["ad7"] = Known({"rtl", "DD7"});
  p.graph["bd7"] = Known({"vcl", "ad7"});
  p.graph["cd7"] = Known({"rtl", "BD7"});
  p.graph["dd7"] = Known({"rtl"});
  CompilePlan plan({"AD7", "CD7", "DD7"}, p.Fn());
  EXPECT_EQ(plan.WaitsFor(0), Waits{});
  EXPECT_EQ(plan.WaitsFor(1), Waits{0});
  EXPECT_EQ(plan.WaitsFor(2), Waits{});
  for (const auto& [name, count] : p.asked) EXPECT_EQ(count, 1) << name;
  EXPECT_EQ(p.asked.size(), 6u);  // a, b, c, d, rtl, vcl

  // Only A may start; C once A is done, whatever else runs.
  EXPECT_EQ(plan.Next(), 0u);
  plan.Started(0);
  EXPECT_EQ(plan.Next(), 2u);
  plan.Started(2);
  EXPECT_EQ(plan.Next(), std::nullopt);
  plan.Done(0);
  EXPECT_EQ(plan.Next(), 1u);
}

TEST(CompilePlan, AnUnknownProjectOnTheWayWaitsForEverythingBefore) {
  Projects p;
  p.graph["a"] = Known({"rtl"});
  p.graph["b"] = Known({});
  p.graph["c"] = Known({"x"});  // x: unticked, its project unreadable
  p.graph["x"] = {Requires::Kind::Unknown, {}};
  p.graph["d"] = {Requires::Kind::Unknown, {}};
  p.graph["e"] = Known({"b"});
  CompilePlan plan({"a", "b", "c", "d", "e"}, p.Fn());
  EXPECT_EQ(plan.WaitsFor(2), (Waits{0, 1}));
  EXPECT_EQ(plan.WaitsFor(3), (Waits{0, 1, 2}));
  EXPECT_EQ(plan.WaitsFor(4), Waits{1});
}

TEST(CompilePlan, CyclesEnd) {
  // a -> b -> x -> a and x -> b: one strong component holding two jobs.
  Projects p;
  p.graph["a"] = Known({"b"});
  p.graph["b"] = Known({"x"});
  p.graph["x"] = Known({"a", "b", "x"});
  p.graph["c"] = Known({"x"});
  CompilePlan plan({"a", "b", "c"}, p.Fn());
  EXPECT_EQ(plan.WaitsFor(0), Waits{});
  EXPECT_EQ(plan.WaitsFor(1), Waits{0});
  EXPECT_EQ(plan.WaitsFor(2), (Waits{0, 1}));
  EXPECT_EQ(Simulate(plan, 4, {1, 1, 1}).first, (Waits{0, 1, 2}));
}

TEST(CompilePlan, LongestChainStartsFirst) {
  // Three side packages, then a chain of three; two compilers.
  Projects p;
  p.graph["c2"] = Known({"c1"});
  p.graph["c3"] = Known({"c2"});
  const std::vector<std::string> jobs = {"s1", "s2", "s3", "c1", "c2", "c3"};
  CompilePlan longest(jobs, p.Fn());
  EXPECT_EQ(longest.Priority(3), 3);
  EXPECT_EQ(longest.Priority(0), 1);
  const auto [order, time] = Simulate(longest, 2, {1, 1, 1, 1, 1, 1});
  EXPECT_EQ(order, (Waits{3, 0, 4, 1, 2, 5}));
  EXPECT_EQ(time, 3);
  CompilePlan listed(jobs, p.Fn(), {}, StartOrder::ListOrder);
  EXPECT_EQ(Simulate(listed, 2, {1, 1, 1, 1, 1, 1}), (std::pair<Waits, int>{{0, 1, 2, 3, 4, 5}, 4}));
}

TEST(CompilePlan, TiesGoInListOrderAndWeightsBreakThem) {
  Projects p;
  p.graph["a2"] = Known({"a1"});
  p.graph["b2"] = Known({"b1"});
  const std::vector<std::string> jobs = {"a1", "b1", "a2", "b2"};
  CompilePlan even(jobs, p.Fn());
  EXPECT_EQ(Simulate(even, 1, {1, 1, 1, 1}).first, (Waits{0, 1, 2, 3}));

  // b2 is slow; a2's weight is unknown and counts as the mean of the others.
  const std::map<std::string, double> weights = {{"a1", 1}, {"b1", 1}, {"a2", 0}, {"b2", 7}};
  CompilePlan weighed(jobs, p.Fn(), [&](std::string_view n) { return weights.at(std::string(n)); });
  EXPECT_EQ(weighed.Priority(0), 4);
  EXPECT_EQ(weighed.Priority(1), 8);
  EXPECT_EQ(Simulate(weighed, 1, {1, 1, 3, 7}).first, (Waits{1, 3, 0, 2}));
}

TEST(CompilePlan, TheDeepSampleGraphAtEightCompilers) {
  // Every package ticked: the longest chain first keeps to the chain's
  // length (30 runtime packages and a design package off the last), while
  // list order lets the side packages before the chain's middle hold it up.
  Projects p;
  std::vector<std::string> jobs;
  for (const PackageRequires& package : SamplePackageGraph(IdeFamily::Delphi, SampleGraphShape::Deep)) {
    jobs.push_back(package.package + "D7");
    std::vector<std::string> names = {"rtl", "vcl"};
    for (const std::string& r : package.required) names.push_back(r + "D7");
    p.graph[ToLowerAscii(jobs.back())] = Known(names);
  }
  const std::vector<int> length(jobs.size(), 1);
  const int chain = static_cast<int>(kSampleDeepChain);
  CompilePlan longest(jobs, p.Fn());
  EXPECT_EQ(longest.Priority(0), chain + 1);
  EXPECT_EQ(Simulate(longest, 8, length).second, chain + 1);
  CompilePlan listed(jobs, p.Fn(), {}, StartOrder::ListOrder);
  EXPECT_GE(Simulate(listed, 8, length).second, chain + 10);
}

}  // namespace
}  // namespace kestrin
