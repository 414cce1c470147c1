// CWorker: one thread that runs the virtual Run() until its running flag
// is cleared.
//
// StartThread returns only after the new thread has set the running flag
// and signalled the start handshake. StopThread clears the flag, calls
// OnStopRequested and waits, without a time-out, for Run to notice it and
// return. Run loops must test
// IsRunning() between passes.
//
// A class whose Run uses its own members must call StopThread in its own
// destructor: by the time ~CWorker runs, the derived part is already gone.
// ~CWorker stops a thread that is still running only as a last resort.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

class CWorker {
 public:
  // Optional thread creation settings; every caller passes none.
  struct ThreadAttributes {
    void* security;          // SECURITY_ATTRIBUTES*, unused on other systems
    uint32_t stackSize;      // 0: the default
    uint32_t creationFlags;  // 0: run at once
  };

  CWorker();
  virtual ~CWorker();
  CWorker(const CWorker&) = delete;
  CWorker& operator=(const CWorker&) = delete;

  // The thread body; returns when the running flag is 0 (or on its own).
  virtual void Run() = 0;

  // False when the thread could not be created, or the worker already has one.
  bool StartThread(const ThreadAttributes* attributes, int32_t priority);
  // False when the worker has no thread.
  bool StopThread();

  bool IsRunning() const { return m_running.load(std::memory_order_acquire) != 0; }
  bool HasThread() const { return m_thread.joinable(); }

 protected:
  // Called by StopThread once the running flag is cleared, before the wait
  // for the thread: a Run that sleeps on a condition variable wakes it here
  // (taking the lock of its wait), so a stop does not wait out the sleep.
  virtual void OnStopRequested() {}

 private:
  void ThreadEntry();

  std::thread m_thread;
  std::atomic<int32_t> m_running{0};
  std::atomic<bool> m_startSignalled{false};
};
