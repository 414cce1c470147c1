// Runs the system's blocking network calls (WinInet, the URL moniker) on a
// thread of their own, so that the thread that needs their result can stop
// waiting for it. Those calls keep their own time-outs, and closing their
// handles from another thread does not end every one of them (Wine's do not
// end a head in progress); a stop must not wait for them. The waiting thread
// asks its abort check every kAbortPollMs and, when it says stop or the
// limit passes, leaves the call behind: the worker finishes it on its own
// and then ends. Whatever the call still writes goes into state that the job
// owns (captured by shared pointer), never into the caller's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/abort_check.h"

namespace plat {

class CallWorker {
 public:
  CallWorker() = default;
  ~CallWorker();
  CallWorker(const CallWorker&) = delete;
  CallWorker& operator=(const CallWorker&) = delete;

  // Runs `job` on the worker thread and waits for it. True when it ran to
  // its end; false when `abort` turned true or `limitMs` (0: none) passed
  // first. After a false the job runs on unwatched: it is destroyed on the
  // worker once it returns, and the next Run starts a new worker.
  bool Run(std::function<void()> job, const AbortCheck& abort, uint32_t limitMs);

 private:
  struct State;
  static void Loop(const std::shared_ptr<State>& state);
  std::shared_ptr<State> state_;
};

}  // namespace plat
