// The worker-thread layer on its own: hand-overs, nested calls, failures
// carried back, and the end of the thread.
#include <gtest/gtest.h>

#include "util/Exception.h"
#include "util/Thread.h"

namespace {

class Scripted : public VEK::Thread {
 public:
  Scripted(VEK::HandOverQueue& owner, std::function<void(Scripted&)> body) : Thread(owner), body_(std::move(body)) {}
  ~Scripted() override { TerminateAndWait(); }
  using Thread::Synchronize;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(Scripted&)> body_;
};

TEST(Thread, HandOversRunOnTheOwnersThreadAndCarryFailuresBack) {
  VEK::HandOverQueue queue;
  const auto owner = std::this_thread::get_id();
  std::vector<std::thread::id> ranOn;
  std::string caught;
  Scripted t(queue, [&](Scripted& self) {
    self.Synchronize([&] { ranOn.push_back(std::this_thread::get_id()); });
    try {
      self.Synchronize([] { throw VEK::Exception("refused"); });
    } catch (const VEK::Exception& e) {
      caught = e.Message();
    }
  });
  std::thread::id terminateOn;
  t.OnTerminate = [&](VEK::Thread&) { terminateOn = std::this_thread::get_id(); };
  EXPECT_FALSE(t.Finished());
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(ranOn, std::vector<std::thread::id>{owner});
  EXPECT_EQ(caught, "refused");
  EXPECT_EQ(terminateOn, owner);
  EXPECT_TRUE(t.Finished());
}

TEST(Thread, ANestedCallFromTheOwnersThreadRunsAtOnce) {
  VEK::HandOverQueue queue;
  std::vector<int> order;
  Scripted* self = nullptr;
  Scripted t(queue, [&](Scripted& s) {
    s.Synchronize([&] {
      order.push_back(1);
      self->Synchronize([&] { order.push_back(2); });  // owner's thread: no hand-over, no deadlock
      order.push_back(3);
    });
  });
  self = &t;
  t.Resume();
  t.WaitFor();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(Thread, TheTerminationFlagIsSeenByTheBodyAndTheWaitServesItsLastCalls) {
  VEK::HandOverQueue queue;
  int served = 0;
  Scripted t(queue, [&](Scripted& s) {
    while (!s.Terminated()) s.Synchronize([&] { ++served; });
    s.Synchronize([&] { ++served; });  // after the stop: still served by the wait
  });
  t.Resume();
  while (served < 5) queue.WaitAndServe(std::chrono::milliseconds(10));
  t.TerminateAndWait();
  EXPECT_TRUE(t.Finished());
  EXPECT_GE(served, 6);
}

TEST(Thread, AThreadNeverStartedEndsWithoutWaiting) {
  VEK::HandOverQueue queue;
  bool ran = false;
  {
    Scripted t(queue, [&](Scripted&) { ran = true; });
  }
  EXPECT_FALSE(ran);
}

}  // namespace
