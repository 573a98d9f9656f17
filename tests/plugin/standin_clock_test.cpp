// The stand-in host's virtual clock and timers: ticks in due order, a clock that follows the
// plug-in's work, and timer periods that slow work lets pass.
#include <chrono>
#include <thread>

#include "raw_dialog.h"

namespace flarion_test {
namespace {

using std::chrono::milliseconds;
using std::this_thread::sleep_for;

class ExactClock : public RawDialogHost {
protected:
  ExactClock() : RawDialogHost(exactClock()) {}
};

TEST_F(ExactClock, RunTicksFiresTheNextTimersInDueOrder) {
  RawDialog second;
  second.api = api_;
  const HostDialogCallbacks callbacks = second.callbacks();
  second.dialog = api_->dialogCreate(api_->instance, &callbacks);
  open();
  host_.advance(10.0);
  ASSERT_EQ(api_->dialogOpen(api_->instance, second.dialog, kRawDialogId + 1, 100, 100), 1);
  second.nextInterval = 40; // from its first tick on, which falls due at 35 ms
  EXPECT_EQ(host_.runTicks(4), 4);
  EXPECT_EQ(raw_.tickTimes, (std::vector<double>{25, 50, 75}));
  EXPECT_EQ(second.tickTimes, (std::vector<double>{35}));
  EXPECT_EQ(host_.now(), 75.0);
  EXPECT_EQ(host_.ticksFired(), 4);
  // Ticks that advance() fires count as well; closed windows fire none.
  host_.advance(25.0);
  EXPECT_EQ(host_.ticksFired(), 6); // the second dialog's at 75, the first's at 100
  host_.closeDialog(*host_.dialog(kRawDialogId));
  host_.closeDialog(*host_.dialog(kRawDialogId + 1));
  EXPECT_EQ(host_.runTicks(3), 0);
  EXPECT_EQ(host_.ticksFired(), 6);
  api_->dialogFree(api_->instance, second.dialog);
}

class WorkClock : public RawDialogHost {};

TEST_F(WorkClock, TimeSpentInACallbackPassesOnTheClock) {
  open();
  double before = 0.0, after = 0.0;
  raw_.onTick = [&] {
    before = api_->milliseconds(api_->instance);
    sleep_for(milliseconds(20));
    after = api_->milliseconds(api_->instance);
  };
  ASSERT_EQ(host_.runTicks(1), 1);
  EXPECT_GE(after - before, 20.0);
  EXPECT_LT(after - before, 1000.0);
  EXPECT_GE(host_.now(), after);
  EXPECT_GE(host_.now(), kRawTimerMs + 20.0);
}

TEST_F(WorkClock, CallbacksInsideCallbacksAreCountedOnce) {
  // A command that opens the dialog: its initValues runs inside the command's execute.
  const HostCommandCallbacks command{&raw_,
                                     [](void *self, HostDocument *) -> int32_t {
                                       auto &d = *static_cast<RawDialog *>(self);
                                       sleep_for(milliseconds(10));
                                       return d.api->dialogOpen(d.api->instance, d.dialog,
                                                                kRawDialogId, 300, 200);
                                     },
                                     nullptr};
  ASSERT_EQ(api_->registerCommand(api_->instance, kRawDialogId, "Raw", "", &command), 1);
  raw_.onInitValues = [] { sleep_for(milliseconds(10)); };
  const double start = host_.now();
  const auto realStart = std::chrono::steady_clock::now();
  ASSERT_TRUE(host_.runCommand(kRawDialogId));
  const double real =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - realStart)
          .count();
  EXPECT_GE(host_.now() - start, 20.0);
  EXPECT_LE(host_.now() - start, real);
}

TEST_F(WorkClock, MissedPeriodsFireOnceAndNeverInABurst) {
  open();
  // A command whose work lets four timer periods pass.
  raw_.onCommand = [] { sleep_for(milliseconds(4 * kRawTimerMs + 5)); };
  ASSERT_TRUE(host_.userSetNumber(*host_.dialog(kRawDialogId), kRawNumber, 3.0));
  const double afterCommand = host_.now();
  ASSERT_EQ(host_.runTicks(2), 2);
  ASSERT_EQ(raw_.tickTimes.size(), 2u);
  EXPECT_GE(raw_.tickTimes[0], afterCommand); // late, but never back in time
  // The next tick keeps a whole period's distance (less the moment the first took to start).
  EXPECT_GT(raw_.tickTimes[1], raw_.tickTimes[0] + kRawTimerMs - 1.0);
  // A tick that outlasts its period makes the next one due as soon as it returned, not at the
  // next whole period.
  std::vector<double> tickEnds;
  raw_.onTick = [&] {
    sleep_for(milliseconds(2 * kRawTimerMs));
    tickEnds.push_back(api_->milliseconds(api_->instance));
  };
  ASSERT_EQ(host_.runTicks(2), 2);
  EXPECT_GE(raw_.tickTimes[3], tickEnds[0]);
  EXPECT_LT(raw_.tickTimes[3], tickEnds[0] + kRawTimerMs / 2);
}

TEST_F(WorkClock, AdvanceNeverMovesTheClockBack) {
  open();
  raw_.onTick = [] { sleep_for(milliseconds(30)); };
  const double start = host_.now();
  host_.advance(kRawTimerMs);
  EXPECT_EQ(raw_.ticks, 1);
  EXPECT_GE(host_.now(), start + kRawTimerMs + 30.0); // the tick's work went past the target
  const double later = host_.now();
  host_.advance(-5.0); // fires what is due now at most
  EXPECT_GE(host_.now(), later);
}

} // namespace
} // namespace flarion_test
