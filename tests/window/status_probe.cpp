// Follows the running launcher window from outside, for scripts
// (scripts/screenshot.sh):
//   window_status_probe               prints the status line
//   window_status_probe --hold TEXT   waits up to 60 s for a status line
//       that starts with TEXT, then holds the window's thread so the
//       screen keeps showing it, and prints the line; exit status 2 when
//       the window reached "Ready to Play!" first
//   window_status_probe --release     lets a held window go on
// Exit status 1 when there is no launcher window (or no such line came).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

HWND Launcher() { return FindWindowW(nullptr, L"Halvrecht Patcher v28 on X64"); }

std::string Status(HWND window) {
  char text[512] = {};
  GetDlgItemTextA(window, 1001, text, sizeof text);
  return text;
}

// The stored text, read without a message to the window's thread: cheap
// enough to poll without pause, and possible while that thread is held.
std::string StoredStatus(HWND window) {
  wchar_t text[512] = {};
  InternalGetWindowText(GetDlgItem(window, 1001), text, 512);
  char narrow[1024] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}

HANDLE WindowThread(HWND window) {
  return OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(window, nullptr));
}

}  // namespace

int main(int argc, char** argv) {
  HWND window = Launcher();
  if (argc == 2 && std::strcmp(argv[1], "--release") == 0) {
    HANDLE thread = window != nullptr ? WindowThread(window) : nullptr;
    if (thread == nullptr) return 1;
    ResumeThread(thread);
    CloseHandle(thread);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--hold") == 0) {
    const std::string prefix = argv[2];
    // A patching step may show for a millisecond only: poll without pause.
    for (const ULONGLONG end = GetTickCount64() + 60000; GetTickCount64() < end; SwitchToThread()) {
      window = Launcher();
      if (window == nullptr) continue;
      const std::string now = StoredStatus(window);
      if (now == "Ready to Play!") return 2;
      if (now.rfind(prefix, 0) != 0) continue;
      Sleep(10);  // the window paints the new text
      HANDLE thread = WindowThread(window);
      if (thread == nullptr) return 1;
      std::string text = StoredStatus(window);
      if (text.rfind(prefix, 0) == 0 && SuspendThread(thread) != static_cast<DWORD>(-1)) {
        if (StoredStatus(window) != text) {  // it moved on meanwhile
          ResumeThread(thread);
          CloseHandle(thread);
          continue;
        }
        CloseHandle(thread);
        std::printf("%s\n", text.c_str());
        return 0;
      }
      CloseHandle(thread);
    }
    return 1;
  }
  if (window == nullptr) return 1;
  std::printf("%s\n", Status(window).c_str());
  return 0;
}
