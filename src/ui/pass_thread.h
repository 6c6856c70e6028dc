#pragma once
// A worker thread for one pass, owned by a screen. The body runs with every exception caught
// (none may leave a thread's top); when it returns, `finished` runs on the user-interface thread
// through the receiver's event queue, and is dropped if the receiver is gone by then. The
// destructor waits for the body, so the caller must first make the pass stop (its PassControl).

#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <thread>

namespace salvora::ui {

class PassThread {
 public:
  PassThread() = default;
  ~PassThread() { Join(); }
  PassThread(const PassThread&) = delete;
  PassThread& operator=(const PassThread&) = delete;

  void Start(std::function<void()> body, QObject* receiver, std::function<void()> finished);
  bool Running() const { return running_.load(); }
  // Waits for the body to return; harmless when none runs.
  void Join();

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace salvora::ui
