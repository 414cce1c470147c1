// The local side of a transfer: creating the target file and asking how
// much room its disk has.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "download/fetch_result.h"
#include "platform/file_system.h"

// Creates every missing folder along `path` (a failure there shows up as a
// failed create) and then the file itself, empty, read-write, shared for
// reading; an existing file is truncated. False when the file cannot be made.
bool FileCreate(const std::string& path, plat::File* file);

// Free bytes on the disk that holds `folder` (the current folder when it is
// empty); kFreeSpaceUnknown, with a level-4 log line, when the system cannot
// tell.
constexpr int64_t kFreeSpaceUnknown = -1;
int64_t GetDiskFreeBytes(const std::string& folder);

// The up-front disk check of a transfer: true when the disk of `folder` is
// known to hold less than twice the announced length. A missing length (-1)
// and an unknown free space always pass; the writes still find a full disk.
bool LacksRoomFor(int32_t contentLength, const std::string& folder);

// Closes a file that a transfer has written: kFetchOk; kFetchDiskFull
// ("disk is full") when the system could not finish its writes for lack of
// room; kFetchOpenFailed when closing failed otherwise.
int32_t CloseWrittenFile(plat::File& file, const std::string& localPath);

// Bytes read and written per step of a body. A read of WinInet waits until
// its buffer is full, so a larger one would delay progress and the check
// for a cancel on a slow line; a socket read returns what has arrived, so
// the socket transfer takes larger steps: a fast line then costs far fewer
// calls, and a slow one no more waiting.
constexpr int32_t kHttpBlockSize = 16384;
constexpr int32_t kSocketBlockSize = 256 * 1024;

// A byte count for the 32-bit progress callback.
inline int32_t ClampToInt32(int64_t value) { return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value); }

// Reads a response body in blocks of up to `blockSize` bytes (`read` gives
// the bytes read, 0 at its end, negative when the connection failed) and
// writes each to `file` at
// its current position, calling `progress` (done, progressTotal) before
// each block. `done` counts on from its value. Returns kFetchOk when the
// body ended, with *readFailed telling whether a read failed; otherwise,
// with the file closed and the reason logged, kFetchDiskFull, kFetchCanceled
// or kFetchOpenFailed (any other failed write, which would leave a hole).
int32_t WriteBody(const std::function<int32_t(char* buffer, int32_t size)>& read, plat::File& file,
                  const std::string& localPath, const TransferProgress& progress, int32_t progressTotal,
                  int64_t* done, bool* readFailed, int32_t blockSize = kHttpBlockSize);

// Closes the file and logs the full disk; kFetchDiskFull.
int32_t DiskFullResult(plat::File& file);
