// Follows the running launcher window from outside, for scripts
// (scripts/screenshot.sh):
//   window_status_probe               prints the status line
//   window_status_probe --hold TEXT   waits up to 60 s for a status line
//       that starts with TEXT, then holds every thread of the launcher but
//       the window's, so nothing changes the line while the window goes on
//       painting it, and prints the line; exit status 2 when the window
//       reached "Ready to Play!" first. It writes "polling" to standard
//       error once it watches, so a script can start the launcher after it
//   window_status_probe --release     lets a held launcher go on
// Exit status 1 when there is no launcher window (or no such line came).
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

HWND Launcher() { return FindWindowW(nullptr, L"Halvrecht Patcher v28 on X64"); }

// The stored text, read without a message to the window's thread: cheap
// enough to poll without pause.
std::string Status(HWND window) {
  wchar_t text[512] = {};
  InternalGetWindowText(GetDlgItem(window, 1001), text, 512);
  char narrow[1024] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
  return narrow;
}

// Suspends or resumes every thread of the window's process except the
// window's own; the engine's threads then post nothing.
void HoldWorkers(HWND window, bool hold) {
  DWORD process = 0;
  const DWORD ui = GetWindowThreadProcessId(window, &process);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != process || entry.th32ThreadID == ui) continue;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;
    if (hold) {
      SuspendThread(thread);
    } else {
      ResumeThread(thread);
    }
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
}

}  // namespace

int main(int argc, char** argv) {
  HWND window = Launcher();
  if (argc == 2 && std::strcmp(argv[1], "--release") == 0) {
    if (window == nullptr) return 1;
    HoldWorkers(window, false);
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--hold") == 0) {
    const std::string prefix = argv[2];
    std::fputs("polling\n", stderr);
    std::fflush(stderr);
    // A patching step may show for a millisecond only: poll without pause.
    for (const ULONGLONG end = GetTickCount64() + 60000; GetTickCount64() < end; SwitchToThread()) {
      window = Launcher();
      if (window == nullptr) continue;
      const std::string now = Status(window);
      if (now == "Ready to Play!") return 2;
      if (now.rfind(prefix, 0) != 0) continue;
      HoldWorkers(window, true);
      Sleep(300);  // the window handles what was already posted, and paints
      const std::string held = Status(window);
      if (held.rfind(prefix, 0) == 0) {
        std::printf("%s\n", held.c_str());
        return 0;
      }
      HoldWorkers(window, false);
    }
    return 1;
  }
  if (window == nullptr) return 1;
  std::printf("%s\n", Status(window).c_str());
  return 0;
}
