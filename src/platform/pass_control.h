#pragma once
// Stop and pause for a long pass running on a worker thread. The worker polls at its natural
// steps; pause holds it at its next poll instead of suspending the thread, so it never stops
// while holding something the user interface needs. Thread-safe.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace salvora {

class PassControl {
 public:
  void RequestStop();
  void ClearStop() { stop_.store(false); }
  bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }
  const std::atomic<bool>* stop_flag() const { return &stop_; }

  void Pause();
  void Resume();
  bool Paused() const;

  // The worker's poll: waits while paused (until resumed or stopped); returns true when the
  // pass must stop.
  bool Poll();

  // For tests, which must not guess how long a pass takes: a hook the worker calls at each poll
  // before it looks at the pause (set it before the worker starts; it may pause or stop the pass
  // there), and a wait until the worker is held at a poll by a pause: false when it was not held
  // within the limit, which only keeps a broken test from hanging.
  void SetPollHook(std::function<void()> hook) { poll_hook_ = std::move(hook); }
  bool WaitUntilHeld(std::chrono::milliseconds limit = std::chrono::minutes(1)) const;

 private:
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  bool paused_ = false;
  bool held_ = false;  // the worker waits in Poll
  std::function<void()> poll_hook_;
};

}  // namespace salvora
