// Pause, stop and the test hooks of a pass's control, with a worker thread that polls.
#include <gtest/gtest.h>

#include <thread>

#include "platform/pass_control.h"

namespace salvora {
namespace {

// The hook pauses the worker at its third poll; the worker is then held there, not a poll
// later, until a stop releases it with the answer "stop".
TEST(PassControl, HookPausesAtAnExactPollAndStopReleasesTheHold) {
  PassControl control;
  int polls = 0;
  control.SetPollHook([&] {
    if (++polls == 3) control.Pause();
  });
  int polls_answered_go_on = 0;
  std::thread worker([&] {
    while (!control.Poll()) ++polls_answered_go_on;
  });
  EXPECT_TRUE(control.WaitUntilHeld());
  EXPECT_EQ(polls, 3);
  EXPECT_EQ(polls_answered_go_on, 2);
  control.RequestStop();
  worker.join();
  EXPECT_EQ(polls, 3);
  EXPECT_EQ(polls_answered_go_on, 2);
}

TEST(PassControl, ResumeLetsTheHeldWorkerGoOn) {
  PassControl control;
  control.Pause();
  bool stopped = true;
  std::thread worker([&] { stopped = control.Poll(); });
  EXPECT_TRUE(control.WaitUntilHeld());
  control.Resume();
  worker.join();
  EXPECT_FALSE(stopped);
}

}  // namespace
}  // namespace salvora
