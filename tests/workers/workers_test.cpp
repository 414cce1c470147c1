#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "workers/msg_proc.h"
#include "workers/task_worker.h"
#include "workers/worker.h"

namespace {

// A worker whose Run records what it saw and spins until stopped.
class ProbeWorker : public CWorker {
 public:
  ~ProbeWorker() override { StopThread(); }
  void Run() override {
    while (IsRunning()) {
      ++passes;
      plat::SleepMs(1);
    }
  }
  std::atomic<int> passes{0};
};

// Stopping at once is allowed: Run may see the cleared flag at its first test.
TEST(Worker, StartReturnsWithTheRunningFlagSetAndStopEndsTheThread) {
  for (int round = 0; round < 20; ++round) {
    ProbeWorker worker;
    ASSERT_TRUE(worker.StartThread(nullptr, 0));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_TRUE(worker.HasThread());
    EXPECT_TRUE(worker.StopThread());
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.HasThread());
    EXPECT_FALSE(worker.StopThread());  // no thread any more
  }
}

TEST(Worker, StopWithoutThreadChangesNothing) {
  ProbeWorker worker;
  EXPECT_FALSE(worker.StopThread());
  EXPECT_FALSE(worker.IsRunning());
}

// A worker whose Run returns on its own clears the running flag.
class OneShotWorker : public CWorker {
 public:
  ~OneShotWorker() override { StopThread(); }
  void Run() override { ran = true; }
  std::atomic<bool> ran{false};
};

TEST(Worker, RunReturningByItselfClearsRunning) {
  OneShotWorker worker;
  ASSERT_TRUE(worker.StartThread(nullptr, 0));
  for (int i = 0; i < 2000 && worker.IsRunning(); ++i) plat::SleepMs(1);
  EXPECT_TRUE(worker.ran.load());
  EXPECT_FALSE(worker.IsRunning());
  EXPECT_TRUE(worker.StopThread());
}

// Shared journal of what tasks did, in order.
struct Journal {
  std::mutex mutex;
  std::vector<std::string> entries;
  std::atomic<int> active{0};
  std::atomic<int> maxActive{0};
  std::atomic<int> destroyed{0};
  void Add(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex);
    entries.push_back(entry);
  }
  std::vector<std::string> Snapshot() {
    std::lock_guard<std::mutex> lock(mutex);
    return entries;
  }
};

class RecordingTask : public CTask {
 public:
  RecordingTask(Journal& journal, std::string name, std::vector<int32_t> results)
      : journal_(journal), name_(std::move(name)), results_(std::move(results)) {}
  ~RecordingTask() override { ++journal_.destroyed; }
  int32_t Process() override {
    int now = ++journal_.active;
    int seen = journal_.maxActive.load();
    while (now > seen && !journal_.maxActive.compare_exchange_weak(seen, now)) {
    }
    plat::SleepMs(2);
    journal_.Add(name_);
    --journal_.active;
    int32_t result = results_.empty() ? 0 : results_.front();
    if (!results_.empty()) results_.erase(results_.begin());
    return result;
  }

 private:
  Journal& journal_;
  std::string name_;
  std::vector<int32_t> results_;
};

bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  for (int i = 0; i < ms; ++i) {
    if (done()) return true;
    plat::SleepMs(1);
  }
  return done();
}

TEST(TaskWorker, RunsTasksInOrderOneAtATimeAndRequeuesOnOne) {
  Journal journal;
  CTaskWorker worker;
  // Queued before the thread starts, so the order is fixed.
  worker.AddTask(std::make_unique<RecordingTask>(journal, "A", std::vector<int32_t>{1, 0}));
  worker.AddTask(std::make_unique<RecordingTask>(journal, "B", std::vector<int32_t>{2}));
  worker.AddTask(std::make_unique<RecordingTask>(journal, "C", std::vector<int32_t>{-1}));
  EXPECT_EQ(3u, worker.GetTaskCount());
  ASSERT_TRUE(worker.StartThread(nullptr, 0));
  ASSERT_TRUE(WaitFor([&] { return journal.destroyed.load() == 3; }));
  EXPECT_EQ((std::vector<std::string>{"A", "B", "C", "A"}), journal.Snapshot());
  EXPECT_EQ(1, journal.maxActive.load());
  EXPECT_EQ(0u, worker.GetTaskCount());
  worker.StopThread();
}

TEST(TaskWorker, TaskAddedToAnIdleWorkerRuns) {
  Journal journal;
  CTaskWorker worker;
  ASSERT_TRUE(worker.StartThread(nullptr, 0));
  plat::SleepMs(150);  // idle passes run nothing
  EXPECT_TRUE(journal.Snapshot().empty());
  worker.AddTask(std::make_unique<RecordingTask>(journal, "late", std::vector<int32_t>{}));
  ASSERT_TRUE(WaitFor([&] { return journal.destroyed.load() == 1; }));
  EXPECT_EQ((std::vector<std::string>{"late"}), journal.Snapshot());
}

TEST(TaskWorker, QueuedTasksAreDestroyedUnrunByClearAndDestruction) {
  Journal journal;
  {
    CTaskWorker worker;
    worker.AddTask(std::make_unique<RecordingTask>(journal, "x", std::vector<int32_t>{}));
    worker.AddTask(std::make_unique<RecordingTask>(journal, "y", std::vector<int32_t>{}));
    worker.ClearTasks();
    EXPECT_EQ(2, journal.destroyed.load());
    worker.AddTask(std::make_unique<RecordingTask>(journal, "z", std::vector<int32_t>{}));
    worker.AddTask(static_cast<CTask*>(nullptr));  // ignored
    EXPECT_EQ(1u, worker.GetTaskCount());
  }
  EXPECT_EQ(3, journal.destroyed.load());
  EXPECT_TRUE(journal.Snapshot().empty());
}

// An event queue that records what it was handed.
class RecordingProc : public CMsgProc {
 public:
  void OnMessage(const EngineEvent& event) override {
    seen.push_back(event);
    if (event.type == 99) PostEngineEvent(100, 0, 0);  // posting from the handler is allowed
  }
  std::vector<EngineEvent> seen;
};

TEST(MsgProc, EventsComeOutOnePerCallInPostingOrder) {
  RecordingProc proc;
  proc.PostEngineEvent(8, 17, 0);
  proc.PostEngineEvent(12, 3, 55);
  proc.PostEngineEventRecord(EngineEvent{14, 1, 2, "data\\file.pak"});
  EXPECT_TRUE(proc.ProcessOneEvent());
  ASSERT_EQ(1u, proc.seen.size());
  EXPECT_EQ(8u, proc.seen[0].type);
  EXPECT_EQ(17u, proc.seen[0].sectionOrCode);
  EXPECT_EQ(0u, proc.seen[0].value);
  EXPECT_TRUE(proc.seen[0].text.empty());
  EXPECT_TRUE(proc.ProcessOneEvent());
  EXPECT_TRUE(proc.ProcessOneEvent());
  ASSERT_EQ(3u, proc.seen.size());
  EXPECT_EQ(3u, proc.seen[1].sectionOrCode);
  EXPECT_EQ(55u, proc.seen[1].value);
  EXPECT_EQ("data\\file.pak", proc.seen[2].text);
  EXPECT_FALSE(proc.ProcessOneEvent());
  EXPECT_EQ(3u, proc.seen.size());

  proc.PostEngineEvent(99, 0, 0);
  EXPECT_TRUE(proc.ProcessOneEvent());
  EXPECT_TRUE(proc.ProcessOneEvent());
  EXPECT_EQ(100u, proc.seen.back().type);
}

TEST(MsgProc, ConcurrentPostersLoseNothingAndKeepTheirOwnOrder) {
  RecordingProc proc;
  constexpr int kThreads = 4, kEach = 2000;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&proc, t] {
      for (int i = 0; i < kEach; ++i) proc.PostEngineEvent(static_cast<uint32_t>(t), 0, static_cast<uint32_t>(i));
    });
  }
  int handled = 0;
  while (handled < kThreads * kEach) {
    if (proc.ProcessOneEvent()) {
      ++handled;
    } else {
      proc.WaitForEvent(10);
    }
  }
  for (auto& p : posters) p.join();
  std::vector<uint32_t> next(kThreads, 0);
  for (const EngineEvent& e : proc.seen) {
    ASSERT_LT(e.type, static_cast<uint32_t>(kThreads));
    EXPECT_EQ(next[e.type]++, e.value);
  }
  EXPECT_FALSE(proc.ProcessOneEvent());
}

}  // namespace
