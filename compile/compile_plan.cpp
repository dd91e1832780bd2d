#include "compile/compile_plan.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>

#include "platform/text.h"

namespace kestrin {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// One package of the requires graph, ticked or not.
struct Node {
  std::string name;                  // as first met, for requires_of
  std::vector<std::size_t> edges;    // the packages its clause names
  std::vector<std::size_t> jobs;     // the jobs of this name
  bool unknown = false;              // its project cannot be known
  std::size_t index = kNone, low = 0;  // the strong-component search's marks
  std::size_t component = kNone;
  bool onStack = false;
};

}  // namespace

CompilePlan::CompilePlan(std::vector<std::string> jobs,
                         const std::function<Requires(std::string_view name)>& requires_of,
                         const std::function<double(std::string_view name)>& weight, StartOrder order)
    : jobs_(jobs.size()), order_(order) {
  Plan(jobs, requires_of);
  Weigh(jobs, weight);
}

// The packages each job reaches, through every package whose project is
// known, ticked or not. The graph is split into strongly connected
// components (a cycle is one component, so it ends the search like any other
// package); each component's reach is a bit set over the jobs, made once from
// its own jobs and the reach of the components its packages name, which are
// all complete by then. The search keeps its own stack: a long chain of
// projects does not deepen the program's.
void CompilePlan::Plan(const std::vector<std::string>& names,
                       const std::function<Requires(std::string_view)>& requires_of) {
  const std::size_t n = names.size();
  const std::size_t words = (n + 63) / 64;
  std::vector<Node> nodes;
  std::unordered_map<std::string, std::size_t> by_name;
  auto node_of = [&](std::string_view name) {
    auto [it, added] = by_name.try_emplace(ToLowerAscii(name), nodes.size());
    if (added) nodes.emplace_back().name = std::string(name);
    return it->second;
  };
  std::vector<std::size_t> job_node(n);
  for (std::size_t i = 0; i < n; ++i) {
    job_node[i] = node_of(names[i]);
    nodes[job_node[i]].jobs.push_back(i);
  }

  std::vector<std::uint64_t> reach;      // words per component
  std::vector<char> component_unknown;   // per component
  std::vector<std::size_t> stack;        // the search's open nodes
  std::vector<std::pair<std::size_t, std::size_t>> calls;  // node, next edge
  std::size_t counter = 0;
  auto visit = [&](std::size_t v) {
    nodes[v].index = nodes[v].low = counter++;
    nodes[v].onStack = true;
    stack.push_back(v);
    calls.emplace_back(v, 0);
    if (!requires_of) return;  // nothing is known: every job is a leaf
    Requires r = requires_of(nodes[v].name);
    nodes[v].unknown = r.kind == Requires::Kind::Unknown;
    if (r.kind != Requires::Kind::Known) return;
    for (const std::string& name : r.names) {
      const std::size_t w = node_of(name);  // may grow `nodes`
      nodes[v].edges.push_back(w);
    }
  };
  auto close_component = [&](std::size_t root) {
    const std::size_t c = component_unknown.size();
    component_unknown.push_back(0);
    reach.resize(reach.size() + words, 0);
    std::vector<std::size_t> members;
    for (;;) {
      const std::size_t m = stack.back();
      stack.pop_back();
      nodes[m].onStack = false;
      nodes[m].component = c;
      members.push_back(m);
      if (m == root) break;
    }
    std::uint64_t* bits = reach.data() + c * words;
    bool unknown = false;
    for (std::size_t m : members) {
      unknown = unknown || nodes[m].unknown;
      for (std::size_t job : nodes[m].jobs) bits[job / 64] |= std::uint64_t{1} << (job % 64);
      for (std::size_t w : nodes[m].edges) {
        const std::size_t d = nodes[w].component;
        if (d == c) continue;
        unknown = unknown || component_unknown[d];
        const std::uint64_t* other = reach.data() + d * words;
        for (std::size_t k = 0; k < words; ++k) bits[k] |= other[k];
      }
    }
    component_unknown[c] = unknown;
  };

  for (std::size_t i = 0; i < n; ++i) {
    if (nodes[job_node[i]].index != kNone) continue;
    visit(job_node[i]);
    while (!calls.empty()) {
      const std::size_t v = calls.back().first;
      if (calls.back().second < nodes[v].edges.size()) {
        const std::size_t w = nodes[v].edges[calls.back().second++];
        if (nodes[w].index == kNone) visit(w);
        else if (nodes[w].onStack) nodes[v].low = std::min(nodes[v].low, nodes[w].index);
        continue;
      }
      calls.pop_back();
      if (!calls.empty()) {
        Node& parent = nodes[calls.back().first];
        parent.low = std::min(parent.low, nodes[v].low);
      }
      if (nodes[v].low == nodes[v].index) close_component(v);
    }
  }

  for (std::size_t i = 0; i < n; ++i) {
    Job& job = jobs_[i];
    const std::size_t c = nodes[job_node[i]].component;
    if (component_unknown[c]) {
      for (std::size_t k = 0; k < i; ++k) job.waitsFor.push_back(k);
    } else {
      const std::uint64_t* bits = reach.data() + c * words;
      for (std::size_t k = 0; k < i; ++k)
        if (bits[k / 64] >> (k % 64) & 1) job.waitsFor.push_back(k);
    }
    job.pending = job.waitsFor.size();
    for (std::size_t k : job.waitsFor) jobs_[k].waiters.push_back(i);
  }
}

// Each job's priority, from the last job back: a job waits only for earlier
// ones, so those that wait for it already have theirs.
void CompilePlan::Weigh(const std::vector<std::string>& names,
                        const std::function<double(std::string_view)>& weight) {
  const std::size_t n = names.size();
  std::vector<double> w(n, 0.0);
  double known_sum = 0;
  std::size_t known = 0;
  if (weight) {
    for (std::size_t i = 0; i < n; ++i) {
      const double value = weight(names[i]);
      if (std::isfinite(value) && value > 0) {
        w[i] = value;
        known_sum += value;
        ++known;
      }
    }
  }
  const double fallback = known > 0 ? known_sum / static_cast<double>(known) : 1.0;
  for (std::size_t i = n; i-- > 0;) {
    double after = 0;
    for (std::size_t j : jobs_[i].waiters) after = std::max(after, jobs_[j].priority);
    jobs_[i].priority = (w[i] > 0 ? w[i] : fallback) + after;
  }
}

void CompilePlan::Started(std::size_t job) {
  if (jobs_[job].state == State::Waiting) jobs_[job].state = State::Running;
}

void CompilePlan::Done(std::size_t job) {
  if (jobs_[job].state == State::Done) return;
  jobs_[job].state = State::Done;
  for (std::size_t j : jobs_[job].waiters) --jobs_[j].pending;
}

std::optional<std::size_t> CompilePlan::Next() const {
  std::optional<std::size_t> best;
  for (std::size_t i = 0; i < jobs_.size(); ++i) {
    const Job& job = jobs_[i];
    if (job.state != State::Waiting || job.pending != 0) continue;
    if (order_ == StartOrder::ListOrder) return i;
    // Sums of the same weights in another order may differ in the last bit:
    // such chains count as equal, and the earlier job goes first.
    if (!best || job.priority > jobs_[*best].priority * (1 + 1e-9)) best = i;
  }
  return best;
}

}  // namespace kestrin
