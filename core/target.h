// What a command works on: the library folder, the IDE release with its
// compiler folder, and the build list with its ticks. The application keeps
// them; each command gets them in its request.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/ide_profiles.h"

namespace kestrin {

struct Target {
  std::string library;                  // the library's folder, ending in a backslash; empty: none
  const IdeProfile* release = nullptr;  // the chosen IDE release; none at start
  std::string compilerFolder;           // "<RootDir>\bin" of the release

  std::string_view shortSuffix() const { return release ? release->shortSuffix : ""; }  // "D7"
  std::string_view longSuffix() const { return release ? release->longSuffix : ""; }    // "Delphi7"
};

// The build list: the packages of the release's family in list order, and
// which of them are ticked.
class PackageList {
 public:
  void Load(std::vector<std::string> rows) {
    rows_ = std::move(rows);
    ticks_.assign(rows_.size(), false);
  }
  std::size_t size() const { return rows_.size(); }
  const std::string& row(std::size_t i) const { return rows_[i]; }
  const std::vector<std::string>& rows() const { return rows_; }
  bool ticked(std::size_t i) const { return i < ticks_.size() && ticks_[i]; }
  void Tick(std::size_t i, bool on) {
    if (i < ticks_.size()) ticks_[i] = on;
  }
  void TickAll(bool on) { ticks_.assign(rows_.size(), on); }
  std::size_t TickedCount() const;

 private:
  std::vector<std::string> rows_;
  std::vector<bool> ticks_;
};

inline std::size_t PackageList::TickedCount() const {
  std::size_t n = 0;
  for (bool t : ticks_) n += t;
  return n;
}

}  // namespace kestrin
