// The download manager's interfaces as the engine sees them.
//
// NotifierDownloadStatus is how a download manager reports each transfer
// back to its owner; it is called on the download thread and must only
// queue work. CDownloader is the manager itself, owned by the engine for
// one run; the engine pumps it with Update() on every pass of its loop.
//
// A request goes RequestDownload (pending queue, numbered) -> DownloadNext
// (current request, handed to QueueTransfer) -> the implementation's
// transfer. RequestDownload, DownloadNext and GetStatus are for the engine
// thread; ReportStatus runs on the download thread. Each lock guards one
// queue or the status record and none is held while another is taken,
// except that log lines may be written under the status lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

// Download status codes reported through the notifier.
constexpr uint32_t kDownloadComplete = 0;
constexpr uint32_t kDownloadFailed = 1;
constexpr uint32_t kDownloadConnectionLost = 2;
constexpr uint32_t kDownloadDiskFull = 3;
constexpr uint32_t kDownloadInProgress = 4;
constexpr uint32_t kDownloadIdle = 5;

// Last error codes of a downloader.
constexpr uint32_t kDownloaderNoError = 0;
constexpr uint32_t kDownloaderThreadFailed = 1000;
constexpr uint32_t kDownloaderNothingPending = 1001;

// The failure result of Init and DownloadNext (E_FAIL).
constexpr int32_t kDownloaderFail = static_cast<int32_t>(0x80004005u);

class NotifierDownloadStatus {
 public:
  virtual void OnDownloadStatus(uint32_t status, uint32_t requestNumber) = 0;

 protected:
  ~NotifierDownloadStatus() = default;
};

struct DownloadRequest {
  std::string url;
  std::string localPath;
  std::string fileName;  // the local path's name and extension, for logs and status
  uint32_t requestNumber = 0;
};

// The record of the transfer in hand.
struct DownloadStatus {
  uint32_t status = kDownloadIdle;
  float percent = 0.0f;       // done / total * 100; 100 after success
  int64_t total = 0;          // the transfer's size as it reports it
  std::string fileName;
  uint32_t requestNumber = 0;
  uint32_t elapsed = 0;       // ms since DownloadNext started the request
  int64_t speed = 0;          // bytes in the last sampling window of at least 1 s
  uint32_t reserved[2] = {0, 0};
};

class CDownloader {
 public:
  CDownloader();
  virtual ~CDownloader();
  CDownloader(const CDownloader&) = delete;
  CDownloader& operator=(const CDownloader&) = delete;

  // Keeps the notifier (not owned; it must outlive the downloader's thread)
  // and starts the download activity. The local version and the manifest
  // file are offered for implementations that choose servers by them.
  // Returns 0 or kDownloaderFail.
  virtual int32_t Init(uint32_t localVersion, NotifierDownloadStatus* notifier, const std::string& manifestPath);
  // Cancels the transfer in hand and ends the download thread.
  virtual void Stop() = 0;
  // Hands a started request to the implementation; 0 when taken.
  virtual int32_t QueueTransfer(const DownloadRequest& request);
  // Asks the running transfer to stop; 0 when asked.
  virtual int32_t Cancel(const DownloadRequest& request);
  // A copy of the status record.
  virtual void GetStatus(DownloadStatus* status);
  // Upkeep on the engine thread; a negative result is a failure.
  virtual int32_t Update() = 0;

  // Queues a request and numbers it from the process-wide counter (the
  // first request of a process is 1). Always 0.
  int32_t RequestDownload(const std::string& url, const std::string& localPath, uint32_t* requestNumber);
  // Starts the head of the pending queue; QueueTransfer's result, or
  // kDownloaderFail (last error 1001) when nothing is pending.
  int32_t DownloadNext();
  // ms since DownloadNext started the current request.
  uint32_t GetElapsed() const;
  // 0 none, 1000 the download thread failed to start, 1001 no pending request.
  uint32_t GetLastErrorCode() const { return m_lastError; }

  // Test seam: the millisecond tick used for elapsed times, the report
  // throttle and the speed sample. An empty function restores the clock.
  void SetTickSourceForTesting(std::function<uint32_t()> tick);

 protected:
  uint32_t Tick() const;
  // Tells the notifier about the status record, at once when the status,
  // total, request or file changed, otherwise at most every 100 ms.
  // Download thread only; no lock is held while the notifier runs.
  void ReportStatus();

  std::mutex m_pendingLock;
  std::deque<DownloadRequest> m_pending;
  // The request that DownloadNext started last, under the pending-queue
  // lock: the thread that stops the downloader reads it.
  DownloadRequest CurrentRequest();
  DownloadRequest m_current;
  NotifierDownloadStatus* m_notifier = nullptr;
  std::mutex m_statusLock;
  DownloadStatus m_status;
  std::atomic<uint32_t> m_startTick{0};  // read by the download thread
  uint32_t m_lastError = kDownloaderNoError;
  DownloadStatus m_lastReport;
  uint32_t m_lastReportTick = 0;
  bool m_reportedOnce = false;

 private:
  std::function<uint32_t()> m_tick;
};
