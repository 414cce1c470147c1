#include <windows.h>

#include <ctime>

#include "platform/clock.h"

namespace plat {

uint32_t TickCount() { return ::GetTickCount(); }

void SleepMs(uint32_t ms) { ::Sleep(ms); }

LocalTime LocalNow() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

int64_t CalendarSeconds() { return static_cast<int64_t>(::time(nullptr)); }

}  // namespace plat
