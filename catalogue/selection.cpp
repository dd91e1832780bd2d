// Select all and clear all on the build list.
#include "app/app.h"

namespace kestrin {

void BtnSelectClick(App& app) {
  for (int i = 0, n = app.view.BuildCount(); i < n; ++i) app.view.SetTicked(i, true);
}

void BtnUnSelectClick(App& app) {
  for (int i = 0, n = app.view.BuildCount(); i < n; ++i) app.view.SetTicked(i, false);
}

}  // namespace kestrin
