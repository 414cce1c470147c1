// CTask: a unit of work run on a task worker's thread.
#pragma once

#include <cstdint>

class CTask {
 public:
  // Process() result that asks the worker to queue the task again at the back.
  static constexpr int32_t kRequeue = 1;

  CTask() = default;
  virtual ~CTask() = default;
  CTask(const CTask&) = delete;
  CTask& operator=(const CTask&) = delete;

  // Runs the job. kRequeue: run again later; anything else: finished, and
  // the worker destroys the task.
  virtual int32_t Process() = 0;
};
