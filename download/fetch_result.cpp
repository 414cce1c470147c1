#include "download/fetch_result.h"

#include <atomic>

namespace {
std::atomic<bool> g_cancel{false};
thread_local int32_t t_lastHttpStatus = 0;
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
