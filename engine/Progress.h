// The progress indicator that an update pass moves: a progress-bar control with minimum 0.
// The main window's bar and the headless updater's terminal bar wrap ProgressBarModel, which
// holds the one copy of the control's clamping rules.
#pragma once

#include <cstdint>
#include <functional>

namespace velt {

class ProgressIndicator {
 public:
  virtual ~ProgressIndicator() = default;

  virtual int32_t Position() const = 0;
  // Clamped to 0..Maximum().
  virtual void SetPosition(int32_t position) = 0;
  virtual int32_t Maximum() const = 0;
  // Not below 0; a maximum below the position pulls the position down to it.
  virtual void SetMaximum(int32_t maximum) = 0;
  // Called now and then while the pass waits for the server, so that a view can keep its
  // window painted although the position does not move.
  virtual void Waiting() {}
};

// Position 0, maximum 100 at creation, like a freshly created progress bar.
class ProgressBarModel : public ProgressIndicator {
 public:
  ProgressBarModel() = default;
  ProgressBarModel(int32_t position, int32_t maximum);

  int32_t Position() const override { return position_; }
  void SetPosition(int32_t position) override;
  int32_t Maximum() const override { return maximum_; }
  void SetMaximum(int32_t maximum) override;

  // Called after every call that changed the position or the maximum (a view repaints there).
  void SetChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }
  void SetWaitingHandler(std::function<void()> handler) { waiting_ = std::move(handler); }
  void Waiting() override {
    if (waiting_) waiting_();
  }

 private:
  void Changed();

  int32_t position_ = 0;
  int32_t maximum_ = 100;
  std::function<void()> changed_;
  std::function<void()> waiting_;
};

// How a step of the pass treats the maximum once the position has reached it.
enum class MaximumRule {
  Grow,        // the maximum becomes position + 1
  OutOfRange,  // the maximum becomes the position (rows whose current address is out of range)
};

// One step of the pass: the position goes up by one (it cannot pass the maximum); then, if it
// has reached the maximum, the rule sets the new maximum.
void AdvanceProgress(ProgressIndicator& progress, MaximumRule rule);

// End of a pass: a position above 1 becomes the next pass's scale (maximum := position + 1),
// and the position returns to 0.
void FinishProgress(ProgressIndicator& progress);

}  // namespace velt
