#include <windows.h>

#include "platform/message_sink.h"

namespace plat {

namespace {

const char kLoopClassName[] = "HalvrechtMessageLoop";

LRESULT CALLBACK LoopWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcA(window, message, wParam, lParam);
}

void RegisterLoopClass() {
  static const bool registered = [] {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = LoopWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kLoopClassName;
    return ::RegisterClassA(&windowClass) != 0;
  }();
  (void)registered;
}

}  // namespace

struct MessageLoop::State {
  HWND window = nullptr;
};

bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return ::PostMessageA(static_cast<HWND>(window), message, wParam, lParam) != FALSE;
}

bool SetWindowTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
  return ::SetTimer(static_cast<HWND>(window), id, periodMs, nullptr) != 0;
}

bool KillWindowTimer(WindowHandle window, uintptr_t id) {
  return ::KillTimer(static_cast<HWND>(window), id) != FALSE;
}

MessageLoop::MessageLoop() : state_(std::make_unique<State>()) {
  RegisterLoopClass();
  state_->window = ::CreateWindowExA(0, kLoopClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     ::GetModuleHandleA(nullptr), nullptr);
}

MessageLoop::~MessageLoop() {
  if (state_->window) ::DestroyWindow(state_->window);
}

WindowHandle MessageLoop::Handle() const { return state_->window; }

bool MessageLoop::SetTimer(uintptr_t id, uint32_t periodMs) { return SetWindowTimer(Handle(), id, periodMs); }

bool MessageLoop::KillTimer(uintptr_t id) { return KillWindowTimer(Handle(), id); }

bool MessageLoop::Get(WindowMessage* out, uint32_t timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG msg;
    if (::PeekMessageA(&msg, state_->window, 0, 0, PM_REMOVE)) {
      *out = WindowMessage{msg.message, msg.wParam, msg.lParam};
      return true;
    }
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
  }
}

}  // namespace plat
