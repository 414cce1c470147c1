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

// The cancel flag: set from any thread, cleared by each transfer when it
// begins, and tested by the transfers after every block and by the fetch
// procedure before every attempt.
void SetTransferCancel();
void ClearTransferCancel();
bool IsTransferCanceled();

// The status code of the last HTTP response head a transfer read on this
// thread; 0 when the last transfer read none (no connection, no answer).
// It tells a file the server does not have (404) from a failed transfer.
// Each transfer clears it when it begins.
int32_t LastHttpStatus();
void SetLastHttpStatus(int32_t status);
