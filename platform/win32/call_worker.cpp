#include "platform/win32/call_worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/clock.h"

namespace plat {

struct CallWorker::State {
  std::mutex mutex;
  std::condition_variable wake;
  std::function<void()> job;
  bool pending = false;   // a job waits for the worker
  bool finished = false;  // the last job returned
  bool stop = false;      // end after the current job, if any
};

CallWorker::~CallWorker() {
  if (!state_) return;
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->stop = true;
  state_->wake.notify_all();
}

bool CallWorker::Run(std::function<void()> job, const AbortCheck& abort, uint32_t limitMs) {
  if (!state_) {
    state_ = std::make_shared<State>();
    // Detached: a worker left behind must never hold up a stop or the
    // process's exit; it holds its state and ends when its call returns.
    std::thread(&CallWorker::Loop, state_).detach();
  }
  const uint32_t start = TickCount();
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->job = std::move(job);
  state_->pending = true;
  state_->finished = false;
  state_->wake.notify_all();
  while (!state_->finished) {
    state_->wake.wait_for(lock, std::chrono::milliseconds(kAbortPollMs));
    if (state_->finished) break;
    lock.unlock();
    const bool give = (abort && abort()) || (limitMs != 0 && TickCount() - start >= limitMs);
    lock.lock();
    if (give && !state_->finished) {
      state_->stop = true;
      lock.unlock();
      state_.reset();
      return false;
    }
  }
  return true;
}

void CallWorker::Loop(const std::shared_ptr<State>& state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    state->wake.wait(lock, [&] { return state->pending || state->stop; });
    if (!state->pending) return;
    std::function<void()> job = std::move(state->job);
    state->job = nullptr;
    state->pending = false;
    lock.unlock();
    job();
    // The job's captures (handles, buffers, side files) go with it here,
    // on this thread, after its call has returned.
    job = nullptr;
    lock.lock();
    state->finished = true;
    state->wake.notify_all();
    if (state->stop) return;
  }
}

}  // namespace plat
