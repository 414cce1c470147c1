#include "workers/task_worker.h"

#include <chrono>

CTaskWorker::~CTaskWorker() {
  StopThread();
  ClearTasks();
}

void CTaskWorker::Run() {
  while (IsRunning()) {
    std::unique_ptr<CTask> task;
    {
      std::unique_lock<std::mutex> lock(m_queueLock);
      if (m_tasks.empty()) {
        m_taskAdded.wait_for(lock, std::chrono::milliseconds(kIdleWaitMs),
                             [this] { return !m_tasks.empty() || !IsRunning(); });
        continue;
      }
      task = std::move(m_tasks.front());
      m_tasks.pop_front();
    }
    // The task runs outside the lock so others can queue meanwhile.
    if (task->Process() == CTask::kRequeue) {
      std::lock_guard<std::mutex> lock(m_queueLock);
      m_tasks.push_back(std::move(task));
    }
  }
}

void CTaskWorker::AddTask(CTask* task) { AddTask(std::unique_ptr<CTask>(task)); }

void CTaskWorker::AddTask(std::unique_ptr<CTask> task) {
  if (!task) return;
  {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_tasks.push_back(std::move(task));
  }
  m_taskAdded.notify_one();
}

void CTaskWorker::OnStopRequested() {
  // Under the lock: the worker is then either before its test of the flag,
  // and sees it cleared, or inside the wait, and gets the signal.
  { std::lock_guard<std::mutex> lock(m_queueLock); }
  m_taskAdded.notify_all();
}

uint32_t CTaskWorker::GetTaskCount() {
  std::lock_guard<std::mutex> lock(m_queueLock);
  return static_cast<uint32_t>(m_tasks.size());
}

void CTaskWorker::ClearTasks() {
  // Destroy outside the lock: a task's destructor may be slow or log.
  for (;;) {
    std::unique_ptr<CTask> task;
    {
      std::lock_guard<std::mutex> lock(m_queueLock);
      if (m_tasks.empty()) return;
      task = std::move(m_tasks.front());
      m_tasks.pop_front();
    }
  }
}
