// CDownloaderHTTP: the download manager over HTTP. Its worker thread is the
// download thread: it takes started requests off the transfer queue one at
// a time, fetches each with the fetch procedure (always resuming a partial
// file), and reports the end through the notifier. A failed transfer never
// stops the thread; retrying is the owner's decision.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "download/downloader.h"
#include "download/fetch_result.h"
#include "workers/worker.h"

// The transfer the download thread runs for each request: url, local path,
// resume flag and progress; returns a fetch result code.
using FetchFunction =
    std::function<uint32_t(const std::string& url, const std::string& localPath, int32_t resume,
                           const TransferProgress& progress)>;

class CDownloaderHTTP : public CDownloader, public CWorker {
 public:
  // `fetch` replaces the fetch procedure in tests; empty means the real one.
  explicit CDownloaderHTTP(FetchFunction fetch = FetchFunction());
  ~CDownloaderHTTP() override;

  // Keeps the notifier and starts the download thread; kDownloaderFail
  // (last error 1000) when the thread does not start.
  int32_t Init(uint32_t localVersion, NotifierDownloadStatus* notifier, const std::string& manifestPath) override;
  // Cancels the current request (if it has a url and a path), drops one
  // pending request and joins the download thread. Requests still in the
  // transfer queue are discarded with the object.
  void Stop() override;
  int32_t QueueTransfer(const DownloadRequest& request) override;
  // Sets the cancel flag and returns 0 once no transfer runs: at once when
  // none was running, else when the running one has noticed the flag and
  // ended, after one second at most.
  int32_t Cancel(const DownloadRequest& request) override;
  int32_t Update() override { return 0; }

  // The progress callback of the running transfer (download thread):
  // updates percent, total and elapsed, samples the speed at most once a
  // second, and reports with the 100 ms throttle.
  void OnTransferProgress(int32_t done, int32_t total);

  // Test seam: the pause of Cancel (one second unless changed).
  void SetCancelWaitForTesting(uint32_t ms) { m_cancelWaitMs = ms; }

 protected:
  void Run() override;
  void OnStopRequested() override;

 private:
  void Transfer(const DownloadRequest& request);

  FetchFunction m_fetch;
  std::mutex m_transferLock;
  std::deque<DownloadRequest> m_transfers;
  std::condition_variable m_transferQueued;
  bool m_transferRunning = false;  // under m_transferLock
  std::condition_variable m_transferEnded;
  uint32_t m_lastSampleTick = 0;
  int32_t m_lastSampleBytes = 0;
  uint32_t m_cancelWaitMs = 1000;
};

// Type 0 gives a CDownloaderHTTP; any other type gives null.
std::unique_ptr<CDownloader> CreateDownloader(int32_t type);
