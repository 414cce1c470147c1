#include "engine/patch_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/debug_output.h"
#include "platform/file_system.h"

namespace {

// Settings are written once at engine start-up, before any engine thread
// runs, and only read afterwards; the mutex serialises the appends.
uint32_t g_outputs = 0;
uint32_t g_levelMask = 0xFFFFFFFFu;
char g_prefix[kLogMaxFileName + 1] = "Log";
std::mutex g_appendMutex;
std::function<plat::LocalTime()> g_testClock;
std::function<void(uint32_t, const char*)> g_testObserver;

plat::LocalTime Now() { return g_testClock ? g_testClock() : plat::LocalNow(); }

// vsnprintf into a fixed buffer, cut at the limit; returns the length kept.
size_t FormatInto(char* buffer, size_t capacity, const char* format, va_list args) {
  int written = vsnprintf(buffer, capacity, format, args);
  if (written < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(written) < capacity ? static_cast<size_t>(written) : capacity - 1;
}

size_t FormatInto(char* buffer, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  size_t length = FormatInto(buffer, capacity, format, args);
  va_end(args);
  return length;
}

void AppendToFile(const char* fileName, const char* line, size_t length) {
  // Written as the Windows text mode writes it: every "\n" stored as CR LF.
  char stored[2 * (kLogMaxLine + 1)];
  size_t count = 0;
  for (size_t i = 0; i < length; ++i) {
    if (line[i] == '\n') stored[count++] = '\r';
    stored[count++] = line[i];
  }
  plat::File file;
  if (!file.Open(fileName, plat::File::kWrite, plat::File::kShareRead, plat::File::kOpenAlways)) return;
  if (!file.Seek(0, 2)) return;
  uint32_t done = 0;
  // The write hands the line to the system, which keeps it when the process
  // dies; forcing every line onto the disk as well would cost a disk round
  // trip per line.
  file.Write(stored, static_cast<uint32_t>(count), &done);
}

}  // namespace

void LogWrite(uint32_t level, const char* format, ...) {
  if ((level & g_levelMask) == 0) return;
  if (g_outputs == 0 && !g_testObserver) return;

  char message[kLogMaxMessage + 1];
  va_list args;
  va_start(args, format);
  FormatInto(message, sizeof message, format, args);
  va_end(args);
  if (g_testObserver) g_testObserver(level, message);
  if (g_outputs == 0) return;

  const plat::LocalTime now = Now();
  char stamp[32];
  FormatInto(stamp, sizeof stamp, "%02d:%02d:%02d", now.hour, now.minute, now.second);

  char line[kLogMaxLine + 1];
  size_t length = FormatInto(line, sizeof line, "[%d]%s %s\n", static_cast<int32_t>(level), stamp, message);
  // A line cut at the limit still ends its own line in the file.
  if (length > 0 && line[length - 1] != '\n') line[length - 1] = '\n';

  if (g_outputs & kLogToDebugger) plat::OutputDebugText(line);

  std::lock_guard<std::mutex> lock(g_appendMutex);
  if (g_outputs & kLogToStdout) {
    fwrite(line, 1, length, stdout);
    fflush(stdout);
  }
  if (g_outputs & kLogToFile) {
    char fileName[kLogMaxFileName + 1];
    FormatInto(fileName, sizeof fileName, "%s_%04d-%02d-%02d %02d.log", g_prefix, now.year, now.month, now.day,
               now.hour);
    AppendToFile(fileName, line, length);
  }
}

void LogConfigure(uint32_t outputs, const char* prefix, uint32_t levelMask) {
  g_outputs = outputs;
  g_levelMask = levelMask;
  FormatInto(g_prefix, sizeof g_prefix, "%s", prefix ? prefix : "");
}

void LogSetup(bool enabled, bool verbose) {
  uint32_t mask = 0;
  if (enabled) {
    // Creating a folder that exists fails harmlessly; other failures only
    // mean the lines will be dropped.
    plat::CreateFolder("Log");
    mask = verbose ? 0xFFFFFFFFu : kLogError;
  }
  LogConfigure(kLogToFile, "Log/Patch", mask);
}

std::string FormatElapsed(int32_t ms) {
  char text[64];
  FormatInto(text, sizeof text, "%02d:%02d (sec)", (ms / 1000) / 60, (ms / 1000) % 60);
  return text;
}

std::string FormatElapsedShare(int32_t partMs, int32_t totalMs) {
  const int percent = totalMs == 0 ? 0 : static_cast<int>(static_cast<double>(partMs) / totalMs * 100.0);
  char text[96];
  FormatInto(text, sizeof text, "%-7d %02d:%02d (sec) - %3d%%", partMs, (partMs / 1000) / 60, (partMs / 1000) % 60,
             percent);
  return text;
}

void LogSetClockForTesting(std::function<plat::LocalTime()> clock) { g_testClock = std::move(clock); }

void LogSetObserverForTesting(std::function<void(uint32_t level, const char* message)> observer) {
  g_testObserver = std::move(observer);
}
