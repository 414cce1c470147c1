// The patch log: one process-wide, line-oriented text log.
//
// Lines go to one file per local hour, "<prefix>_YYYY-MM-DD HH.log", opened,
// appended, flushed and closed for every line so a line is on disk when
// LogWrite returns. Any thread may call LogWrite; appends are serialised so
// lines land whole and none is lost. Nothing is written until LogConfigure
// (or LogSetup) has selected an output.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/clock.h"

// Output switches of LogConfigure.
constexpr uint32_t kLogToDebugger = 1;
constexpr uint32_t kLogToStdout = 2;
constexpr uint32_t kLogToFile = 4;

// Levels used by the engine.
constexpr uint32_t kLogDetail = 1;
constexpr uint32_t kLogProtected = 2;
constexpr uint32_t kLogSystemQuery = 4;
constexpr uint32_t kLogError = 8;
constexpr uint32_t kLogTrace = 64;
constexpr uint32_t kLogAlways = 0xFFFFFFFFu;

// Limits of one message, one line (both without the terminator) and a file name.
constexpr size_t kLogMaxMessage = 4095;
constexpr size_t kLogMaxLine = 4095;
constexpr size_t kLogMaxFileName = 259;

// Writes one line "[level]HH:MM:SS message\n" when (level & mask) != 0.
// Over-long messages and lines are cut at their limits.
void LogWrite(uint32_t level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// Replaces the output switches, the file prefix (cut to 259 characters) and
// the level mask.
void LogConfigure(uint32_t outputs, const char* prefix, uint32_t levelMask);

// The engine's configuration: file output under "Log/Patch"; mask all levels
// when verbose, errors only otherwise, nothing when not enabled. Creates
// "Log/" (relative to the current folder) only when enabled.
void LogSetup(bool enabled, bool verbose);

// "MM:SS (sec)" of a millisecond count; minutes are not capped.
std::string FormatElapsed(int32_t ms);

// "part    MM:SS (sec) - PPP%": a part of a total with its share in percent
// (0 when the total is 0).
std::string FormatElapsedShare(int32_t partMs, int32_t totalMs);

// Test seam: the clock that stamps lines and names files. An empty function
// restores the local clock.
void LogSetClockForTesting(std::function<plat::LocalTime()> clock);
// Test seam: sees every message that passes the level mask, on the writing
// thread, whether or not an output is selected; it must be thread-safe. An
// empty function removes it.
void LogSetObserverForTesting(std::function<void(uint32_t level, const char* message)> observer);
