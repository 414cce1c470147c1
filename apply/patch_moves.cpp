#include "apply/patch_moves.h"

#include <mutex>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace {

std::mutex g_seamLock;
MoveFunction g_move;
WaitFunction g_wait;

}  // namespace

bool MovePatchedFile(const std::string& from, const std::string& to) {
  MoveFunction move;
  {
    std::lock_guard<std::mutex> lock(g_seamLock);
    move = g_move;
  }
  return move ? move(from, to) : plat::MoveReplace(from, to);
}

void WaitBeforeRetry(uint32_t ms) {
  WaitFunction wait;
  {
    std::lock_guard<std::mutex> lock(g_seamLock);
    wait = g_wait;
  }
  if (wait) {
    wait(ms);
  } else {
    plat::SleepMs(ms);
  }
}

void SetPatchMoveForTesting(MoveFunction move) {
  std::lock_guard<std::mutex> lock(g_seamLock);
  g_move = std::move(move);
}

void SetRetryWaitForTesting(WaitFunction wait) {
  std::lock_guard<std::mutex> lock(g_seamLock);
  g_wait = std::move(wait);
}
