// The replacing move that puts a patched or extracted file in place, and the
// wait before a failed move is tried again.
//
// Both go through functions that tests may replace: a test must not sleep
// for seconds, and it needs moves that fail a set number of times, which no
// real file system can be made to do the same way on every platform.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Waits before a failed move is tried again.
constexpr uint32_t kWholeFileRetryWaitMs = 1000;  // a whole file: one more try
constexpr uint32_t kDecodedRetryWaitMs = 2000;    // the file decoder's output
constexpr uint32_t kDecodedMoveRetries = 3;       // further tries of that move

// MoveFileExA with replace-existing (engine paths). False with
// plat::LastError() set.
bool MovePatchedFile(const std::string& from, const std::string& to);

// Sleeps for ms milliseconds.
void WaitBeforeRetry(uint32_t ms);

// Test seams. An empty function restores the real one. They apply to every
// task of the process, so a test sets them before it runs a task.
using MoveFunction = std::function<bool(const std::string& from, const std::string& to)>;
using WaitFunction = std::function<void(uint32_t ms)>;
void SetPatchMoveForTesting(MoveFunction move);
void SetRetryWaitForTesting(WaitFunction wait);
