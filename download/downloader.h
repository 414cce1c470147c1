// The download manager's interfaces as the engine sees them.
//
// NotifierDownloadStatus is how a download manager reports each transfer
// back to its owner; it is called on the download thread and must only
// queue work. CDownloader is the manager itself, owned by the engine for
// one run; the engine pumps it with Update() on every pass of its loop.
#pragma once

#include <cstdint>

// Download status codes reported through the notifier.
constexpr uint32_t kDownloadComplete = 0;
constexpr uint32_t kDownloadFailed = 1;
constexpr uint32_t kDownloadConnectionLost = 2;
constexpr uint32_t kDownloadDiskFull = 3;
constexpr uint32_t kDownloadInProgress = 4;
constexpr uint32_t kDownloadIdle = 5;

class NotifierDownloadStatus {
 public:
  virtual void OnDownloadStatus(uint32_t status, uint32_t requestNumber) = 0;

 protected:
  ~NotifierDownloadStatus() = default;
};

class CDownloader {
 public:
  CDownloader() = default;
  virtual ~CDownloader() = default;
  CDownloader(const CDownloader&) = delete;
  CDownloader& operator=(const CDownloader&) = delete;

  // Cancels the transfer in hand and ends the download thread.
  virtual void Stop() = 0;
  // Upkeep on the engine thread; a negative result is a failure.
  virtual int32_t Update() = 0;

  // 0 none, 1000 the download thread failed to start, 1001 no pending request.
  uint32_t GetLastErrorCode() const { return m_lastError; }

 protected:
  uint32_t m_lastError = 0;
};
