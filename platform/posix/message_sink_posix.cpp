#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "platform/message_sink.h"

namespace plat {

using Clock = std::chrono::steady_clock;

struct MessageLoop::State {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<WindowMessage> posted;
  struct Timer {
    std::chrono::milliseconds period;
    Clock::time_point due;
  };
  std::map<uintptr_t, Timer> timers;
};

namespace {

// Live loops, so a post to a loop that is gone fails like a post to a
// destroyed window instead of touching freed memory.
std::mutex g_registryMutex;
std::set<const void*>& Registry() {
  static std::set<const void*> loops;
  return loops;
}

}  // namespace

bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard<std::mutex> registryLock(g_registryMutex);
  if (!window || Registry().count(window) == 0) return false;
  auto* state = static_cast<MessageLoop::State*>(window);
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->posted.push_back(WindowMessage{message, wParam, lParam});
  }
  state->wake.notify_one();
  return true;
}

namespace {

// The loop behind a handle, or null when the handle is not a live loop.
MessageLoop::State* LiveLoop(WindowHandle window) {
  std::lock_guard<std::mutex> registryLock(g_registryMutex);
  if (!window || Registry().count(window) == 0) return nullptr;
  return static_cast<MessageLoop::State*>(window);
}

}  // namespace

bool SetWindowTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
  MessageLoop::State* state = LiveLoop(window);
  if (!state) return false;
  std::lock_guard<std::mutex> lock(state->mutex);
  const auto period = std::chrono::milliseconds(std::max<uint32_t>(periodMs, 10));
  state->timers[id] = MessageLoop::State::Timer{period, Clock::now() + period};
  return true;
}

bool KillWindowTimer(WindowHandle window, uintptr_t id) {
  MessageLoop::State* state = LiveLoop(window);
  if (!state) return false;
  std::lock_guard<std::mutex> lock(state->mutex);
  return state->timers.erase(id) != 0;
}

MessageLoop::MessageLoop() : state_(std::make_unique<State>()) {
  std::lock_guard<std::mutex> registryLock(g_registryMutex);
  Registry().insert(state_.get());
}

MessageLoop::~MessageLoop() {
  std::lock_guard<std::mutex> registryLock(g_registryMutex);
  Registry().erase(state_.get());
}

WindowHandle MessageLoop::Handle() const { return state_.get(); }

bool MessageLoop::SetTimer(uintptr_t id, uint32_t periodMs) { return SetWindowTimer(Handle(), id, periodMs); }

bool MessageLoop::KillTimer(uintptr_t id) { return KillWindowTimer(Handle(), id); }

bool MessageLoop::Get(WindowMessage* out, uint32_t timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock<std::mutex> lock(state_->mutex);
  for (;;) {
    if (!state_->posted.empty()) {
      *out = state_->posted.front();
      state_->posted.pop_front();
      return true;
    }
    // Timer ticks come only when no posted message waits, as on Windows.
    const auto now = Clock::now();
    auto next = deadline;
    for (auto& [id, timer] : state_->timers) {
      if (timer.due <= now) {
        timer.due = now + timer.period;
        *out = WindowMessage{kTimerMessage, id, 0};
        return true;
      }
      next = std::min(next, timer.due);
    }
    if (now >= deadline) return false;
    state_->wake.wait_until(lock, next);
  }
}

}  // namespace plat
