#include "Progress.h"

#include <algorithm>
#include <limits>

namespace velt {

namespace {

int32_t PlusOne(int32_t value) {
  return value == std::numeric_limits<int32_t>::max() ? value : value + 1;
}

}  // namespace

ProgressBarModel::ProgressBarModel(int32_t position, int32_t maximum) {
  SetMaximum(maximum);
  SetPosition(position);
}

void ProgressBarModel::SetPosition(int32_t position) {
  const int32_t clamped = std::clamp(position, 0, maximum_);
  if (clamped == position_) return;
  position_ = clamped;
  Changed();
}

void ProgressBarModel::SetMaximum(int32_t maximum) {
  const int32_t clamped = std::max(maximum, 0);
  if (clamped == maximum_) return;
  maximum_ = clamped;
  position_ = std::min(position_, maximum_);
  Changed();
}

void ProgressBarModel::Changed() {
  if (changed_) changed_();
}

void AdvanceProgress(ProgressIndicator& progress, MaximumRule rule) {
  progress.SetPosition(PlusOne(progress.Position()));
  const int32_t position = progress.Position();
  if (position < progress.Maximum()) return;
  progress.SetMaximum(rule == MaximumRule::Grow ? PlusOne(position) : position);
}

void FinishProgress(ProgressIndicator& progress) {
  const int32_t position = progress.Position();
  if (position > 1) progress.SetMaximum(PlusOne(position));
  progress.SetPosition(0);
}

}  // namespace velt
