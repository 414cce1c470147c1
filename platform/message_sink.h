// The owner window to which the engine posts its messages.
//
// The engine only ever posts (message, wParam, lParam) to a window handle,
// never sends, so it never waits for the window's thread. On Windows the
// handle is an HWND and PostWindowMessage is PostMessageA. On other systems
// a MessageLoop stands in for the window: its handle accepts posted messages
// from any thread, and the thread that owns it takes them off with Get,
// together with the timers it has set.
#pragma once

#include <cstdint>
#include <memory>

namespace plat {

using WindowHandle = void*;

// Message number of a timer tick (WM_TIMER); wParam is the timer id.
constexpr uint32_t kTimerMessage = 0x0113;
// Message number that asks a loop to end (WM_QUIT).
constexpr uint32_t kQuitMessage = 0x0012;

struct WindowMessage {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// PostMessageA. False when the handle is not a live window (or loop).
bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// SetTimer / KillTimer on a window: starts (or restarts) a periodic timer
// that delivers kTimerMessage with wParam = id to the window's thread, or
// stops it. Only the thread that owns the window (loop) may call them.
// False when the handle is not a live window (or loop), or, for
// KillWindowTimer, when no such timer runs.
bool SetWindowTimer(WindowHandle window, uintptr_t id, uint32_t periodMs);
bool KillWindowTimer(WindowHandle window, uintptr_t id);

// A message queue with timers, used by one thread. On Windows it is a
// message-only window, so the same code runs in every build.
class MessageLoop {
 public:
  MessageLoop();
  ~MessageLoop();
  MessageLoop(const MessageLoop&) = delete;
  MessageLoop& operator=(const MessageLoop&) = delete;

  WindowHandle Handle() const;

  // Starts or restarts a periodic timer that delivers kTimerMessage with wParam = id.
  bool SetTimer(uintptr_t id, uint32_t periodMs);
  bool KillTimer(uintptr_t id);

  // Waits up to timeoutMs for the next posted message or due timer. Posted
  // messages come in posting order. False when nothing arrived in time.
  bool Get(WindowMessage* out, uint32_t timeoutMs);

  struct State;  // defined by each backend

 private:
  std::unique_ptr<State> state_;
};

}  // namespace plat
