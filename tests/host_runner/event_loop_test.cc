#include "sqlhost/runner/event_loop.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pramble/host/errors.h"

namespace pramble::sqlhost {
namespace {

using std::chrono::milliseconds;

TEST(EventLoopTest, TasksFromOtherThreadsRunOnTheOwnerInPostOrder) {
  EventLoop loop;
  const auto owner = std::this_thread::get_id();
  std::vector<int> seen;  // touched on the owner thread only
  bool all_on_owner = true;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 250; ++i)
        loop.Post([&, t, i] {
          all_on_owner = all_on_owner && std::this_thread::get_id() == owner;
          seen.push_back(t * 1000 + i);
        });
    });
  EXPECT_TRUE(loop.RunUntil([&] { return seen.size() == 1000; }, EventLoop::kForever));
  for (auto& thread : threads) thread.join();
  EXPECT_TRUE(all_on_owner);
  std::vector<int> last(4, -1);
  for (int value : seen) {
    EXPECT_GT(value % 1000, last[value / 1000]) << "thread " << value / 1000 << " out of order";
    last[value / 1000] = value % 1000;
  }
}

TEST(EventLoopTest, DelayedTasksRunAfterReadyOnesInDueOrder) {
  EventLoop loop;
  std::string order;
  loop.PostDelayed(milliseconds(30), [&] { order += "late "; });
  loop.PostDelayed(milliseconds(0), [&] { order += "due "; });
  loop.Post([&] { order += "ready "; });
  EXPECT_TRUE(loop.RunUntil([&] { return order.size() == 15; }, EventLoop::kForever));
  EXPECT_EQ(order, "ready due late ");
}

TEST(EventLoopTest, NothingToDo) {
  EventLoop loop;
  EXPECT_FALSE(loop.RunOnce(milliseconds(0)));
  EXPECT_FALSE(loop.RunUntil([] { return false; }, milliseconds(0)));
  int calls = 0;
  EXPECT_TRUE(loop.RunUntil([&] { return ++calls > 0; }, milliseconds(0)));
}

TEST(EventLoopTest, AThrowingTaskLeavesTheOthersQueued) {
  EventLoop loop;
  std::string order;
  loop.Post([&] { order += "a"; });
  loop.Post([] { throw host::HostError(3021, "No current record."); });
  loop.Post([&] { order += "c"; });
  EXPECT_THROW(loop.RunOnce(milliseconds(0)), host::HostError);
  EXPECT_EQ(order, "a");
  EXPECT_TRUE(loop.RunOnce(milliseconds(0)));
  EXPECT_EQ(order, "ac");
}

TEST(EventLoopTest, SignalsArriveAsTasks) {
  struct sigaction before {};
  ::sigaction(SIGTERM, nullptr, &before);
  {
    EventLoop loop;
    std::vector<int> received;
    loop.WatchSignals([&](int signal_number) { received.push_back(signal_number); });
    EventLoop other;
    EXPECT_THROW(other.WatchSignals([](int) {}), host::HostError);
    ::raise(SIGTERM);
    ::raise(SIGINT);
    EXPECT_TRUE(loop.RunUntil([&] { return received.size() == 2; }, EventLoop::kForever));
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
    loop.UnwatchSignals();
    other.WatchSignals([](int) {});  // free again
  }
  struct sigaction after {};
  ::sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
}  // namespace pramble::sqlhost
