#include "download/fetch_result.h"

#include <atomic>

#include "platform/clock.h"

namespace {
std::atomic<bool> g_cancel{false};
std::atomic<uint32_t> g_noProgressLimitMs{kDefaultNoProgressLimitMs};
thread_local int32_t t_lastHttpStatus = 0;

struct FetchWatch {
  bool active = false;
  uint32_t lastProgressTick = 0;
  uint32_t limitMs = 0;
};
thread_local FetchWatch t_watch;
}  // namespace

const char* FetchResultText(int32_t result) {
  switch (result) {
    case kFetchOk: return "success";
    case kFetchOpenFailed: return "the local file or the request could not be opened";
    case kFetchCanceled: return "canceled";
    case kFetchFolderFailed: return "the local folder could not be created";
    case kFetchDisconnected: return "the connection broke during the body";
    case kFetchDiskFull: return "disk full";
    default: return "unknown result";
  }
}

void SetTransferCancel() { g_cancel.store(true, std::memory_order_release); }
void ClearTransferCancel() { g_cancel.store(false, std::memory_order_release); }
bool IsTransferCanceled() { return g_cancel.load(std::memory_order_acquire); }

int32_t LastHttpStatus() { return t_lastHttpStatus; }
void SetLastHttpStatus(int32_t status) { t_lastHttpStatus = status; }

void SetFetchNoProgressLimit(uint32_t ms) { g_noProgressLimitMs = ms; }
uint32_t FetchNoProgressLimitMs() { return g_noProgressLimitMs; }

FetchWatchScope::FetchWatchScope() {
  if (t_watch.active) return;
  began_ = true;
  t_watch.active = true;
  t_watch.limitMs = g_noProgressLimitMs;
  t_watch.lastProgressTick = plat::TickCount();
}

FetchWatchScope::~FetchWatchScope() {
  if (began_) t_watch.active = false;
}

void NoteTransferProgress() {
  if (t_watch.active) t_watch.lastProgressTick = plat::TickCount();
}

bool FetchGaveUp() {
  return t_watch.active && plat::TickCount() - t_watch.lastProgressTick >= t_watch.limitMs;
}

bool ShouldAbortTransfer() { return IsTransferCanceled() || FetchGaveUp(); }
