#include "ui/pass_thread.h"

#include <QMetaObject>
#include <exception>

namespace salvora::ui {

void PassThread::Start(std::function<void()> body, QObject* receiver, std::function<void()> finished) {
  Join();
  running_.store(true);
  QPointer<QObject> target(receiver);
  thread_ = std::thread([this, body = std::move(body), target, finished = std::move(finished)] {
    try {
      body();
    } catch (...) {
      // The pass reports its own failures; anything left must not end the program.
    }
    running_.store(false);
    if (target) QMetaObject::invokeMethod(target.data(), finished, Qt::QueuedConnection);
  });
}

void PassThread::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace salvora::ui
