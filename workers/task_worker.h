// CTaskWorker: a worker thread that runs queued tasks one at a time, in
// queue order. The queue owns its tasks; a finished task is destroyed by
// the worker, and tasks still queued at destruction are destroyed unrun.
// When the queue is empty the thread waits up to 100 ms per pass; a newly
// added task or a stop wakes it at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "workers/task.h"
#include "workers/worker.h"

class CTaskWorker : public CWorker {
 public:
  static constexpr uint32_t kIdleWaitMs = 100;

  CTaskWorker() = default;
  ~CTaskWorker() override;

  void Run() override;

  // Takes ownership; a null task is ignored.
  void AddTask(CTask* task);
  void AddTask(std::unique_ptr<CTask> task);
  uint32_t GetTaskCount();
  // Destroys every queued task without running it.
  void ClearTasks();

 protected:
  void OnStopRequested() override;

 private:
  std::mutex m_queueLock;
  std::condition_variable m_taskAdded;
  std::deque<std::unique_ptr<CTask>> m_tasks;
};
