// Result codes shared by every HTTP transfer and the fetch procedures, and
// the process-wide cancel flag that ends a running transfer.
#pragma once

#include <cstdint>
#include <functional>

constexpr int32_t kFetchOk = 0;
constexpr int32_t kFetchOpenFailed = 1;     // local file or request could not be opened
constexpr int32_t kFetchCanceled = 2;
constexpr int32_t kFetchFolderFailed = 3;   // local folder could not be created
constexpr int32_t kFetchDisconnected = 4;   // the connection broke during the body
constexpr int32_t kFetchDiskFull = 5;

// A short English text for a fetch result code, for tools and messages.
const char* FetchResultText(int32_t result);

// Progress of one transfer: bytes of the file on disk so far and the size
// the transfer expects (-1 plus any resume offset when the server named no
// length). Called on the transferring thread before each block is written
// and once more at the end. An empty function is no callback.
using TransferProgress = std::function<void(int32_t done, int32_t total)>;

// The cancel flag: set from any thread, tested by the fetch procedure
// before every attempt and by the transfers during every wait (at least
// every plat::kAbortPollMs) and after every block. The stop that sets it
// clears it once every thread it ended has been joined, and PLV5_Init
// clears it too; a transfer that cleared it when it began would swallow a
// stop that came while an earlier transport of the same fetch was still
// connecting.
void SetTransferCancel();
void ClearTransferCancel();
bool IsTransferCanceled();

// The no-progress bound of a fetch. The outermost fetch procedure on a
// thread (GetFileFromServers, or GetFileFromServerV5 alone) watches the
// body bytes that its transfers receive; once none has come for the bound,
// every wait in its transfers ends and no further attempt starts, and the
// procedure returns its failure code. 150 s leaves room for two or three
// attempts at one stalled server (each ends at the receive time-out of its
// transfer) and keeps a whole file, over all passes, transports and
// servers, under three minutes: a dead patch server costs the player that
// long per file, no more.
constexpr uint32_t kDefaultNoProgressLimitMs = 150000;
void SetFetchNoProgressLimit(uint32_t ms);  // for tests; the default comes back with the default value
uint32_t FetchNoProgressLimitMs();

// Begins the watch on this thread unless an outer fetch already watches;
// the one that began it ends it.
class FetchWatchScope {
 public:
  FetchWatchScope();
  ~FetchWatchScope();
  FetchWatchScope(const FetchWatchScope&) = delete;
  FetchWatchScope& operator=(const FetchWatchScope&) = delete;

 private:
  bool began_ = false;
};
// Body bytes arrived: the watch starts its bound again.
void NoteTransferProgress();
// The watch on this thread has run out.
bool FetchGaveUp();
// What every wait of a transfer asks: canceled, or the fetch gave up.
bool ShouldAbortTransfer();

// The status code of the last HTTP response head a transfer read on this
// thread; 0 when the last transfer read none (no connection, no answer).
// It tells a file the server does not have (404) from a failed transfer.
// Each transfer clears it when it begins.
int32_t LastHttpStatus();
void SetLastHttpStatus(int32_t status);
