// Tick counts, sleeping and the local calendar time.
#pragma once

#include <cstdint>
#include <ctime>

namespace plat {

// Milliseconds since an arbitrary start; wraps like GetTickCount.
uint32_t TickCount();

void SleepMs(uint32_t ms);

struct LocalTime {
  int year;    // four digits
  int month;   // 1..12
  int day;     // 1..31
  int hour;    // 0..23
  int minute;  // 0..59
  int second;  // 0..59
  int milliseconds;
};

LocalTime LocalNow();

// Seconds since 1970 (the C runtime's time()).
int64_t CalendarSeconds();

}  // namespace plat
