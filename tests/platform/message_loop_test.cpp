#include "platform/message_sink.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(MessageLoop, PostedMessagesArriveInOrderFromOtherThreads) {
  plat::MessageLoop loop;
  std::thread poster([&] {
    for (uintptr_t i = 0; i < 50; ++i) ASSERT_TRUE(plat::PostWindowMessage(loop.Handle(), 2024, i, 7));
  });
  poster.join();
  for (uintptr_t i = 0; i < 50; ++i) {
    plat::WindowMessage m{};
    ASSERT_TRUE(loop.Get(&m, 1000));
    EXPECT_EQ(2024u, m.message);
    EXPECT_EQ(i, m.wParam);
    EXPECT_EQ(7, m.lParam);
  }
  plat::WindowMessage m{};
  EXPECT_FALSE(loop.Get(&m, 20));
}

TEST(MessageLoop, TimersTickUntilKilled) {
  plat::MessageLoop loop;
  ASSERT_TRUE(loop.SetTimer(5, 20));
  int ticks = 0;
  plat::WindowMessage m{};
  while (ticks < 3 && loop.Get(&m, 2000)) {
    if (m.message == plat::kTimerMessage && m.wParam == 5) ++ticks;
  }
  EXPECT_EQ(3, ticks);
  ASSERT_TRUE(loop.KillTimer(5));
  // Drain a tick that may already have been queued, then expect silence.
  while (loop.Get(&m, 100)) {
  }
  EXPECT_FALSE(loop.Get(&m, 100));
}

TEST(MessageLoop, PostToAGoneLoopFails) {
  plat::WindowHandle handle;
  {
    plat::MessageLoop loop;
    handle = loop.Handle();
    EXPECT_TRUE(plat::PostWindowMessage(handle, 2024, 0, 0));
  }
  EXPECT_FALSE(plat::PostWindowMessage(handle, 2024, 0, 0));
}

}  // namespace
