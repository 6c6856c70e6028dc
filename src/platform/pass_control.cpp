#include "platform/pass_control.h"

namespace salvora {

void PassControl::RequestStop() {
  {
    std::lock_guard lock(mu_);
    stop_.store(true);
  }
  cv_.notify_all();
}

void PassControl::Pause() {
  std::lock_guard lock(mu_);
  paused_ = true;
}

void PassControl::Resume() {
  {
    std::lock_guard lock(mu_);
    paused_ = false;
  }
  cv_.notify_all();
}

bool PassControl::Paused() const {
  std::lock_guard lock(mu_);
  return paused_;
}

bool PassControl::Poll() {
  if (poll_hook_) poll_hook_();
  std::unique_lock lock(mu_);
  if (paused_ && !stop_.load()) {
    held_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return !paused_ || stop_.load(); });
    held_ = false;
  }
  return stop_.load();
}

bool PassControl::WaitUntilHeld(std::chrono::milliseconds limit) const {
  std::unique_lock lock(mu_);
  return cv_.wait_for(lock, limit, [this] { return held_; });
}

}  // namespace salvora
