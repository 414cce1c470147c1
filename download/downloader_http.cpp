#include "download/downloader_http.h"

#include <chrono>

#include "download/fetch.h"
#include "engine/patch_log.h"
#include "platform/clock.h"

namespace {

constexpr uint32_t kIdlePollMs = 100;
constexpr uint32_t kSpeedWindowMs = 1000;

// "File download finished. Total elapsed time = %s", in code page 949.
constexpr char kFinishedText[] =
    "\xC6\xC4\xC0\xCF \xB4\xD9\xBF\xEE\xB7\xCE\xB5\xE5 \xC1\xBE\xB7\xE1. "
    "\xB4\xA9\xC0\xFB \xBC\xD2\xBF\xE4\xBD\xC3\xB0\xA3 = %s";

}  // namespace

CDownloaderHTTP::CDownloaderHTTP(FetchFunction fetch) : m_fetch(std::move(fetch)) {
  if (!m_fetch) m_fetch = &GetFileFromServerV5;
}

CDownloaderHTTP::~CDownloaderHTTP() {
  // Run uses this object's members: the thread must end before they go.
  if (HasThread()) StopThread();
}

int32_t CDownloaderHTTP::Init(uint32_t /*localVersion*/, NotifierDownloadStatus* notifier,
                              const std::string& /*manifestPath*/) {
  m_notifier = notifier;
  if (!StartThread(nullptr, 0)) {
    m_lastError = kDownloaderThreadFailed;
    LogWrite(kLogError, "Failed to CDownloaderHTTP Start thread");
    return kDownloaderFail;
  }
  return 0;
}

void CDownloaderHTTP::Stop() {
  const DownloadRequest current = CurrentRequest();
  if (!current.url.empty() && !current.localPath.empty()) Cancel(current);
  {
    std::lock_guard<std::mutex> lock(m_pendingLock);
    if (!m_pending.empty()) m_pending.pop_front();
  }
  if (HasThread()) StopThread();
}

int32_t CDownloaderHTTP::QueueTransfer(const DownloadRequest& request) {
  {
    std::lock_guard<std::mutex> lock(m_transferLock);
    m_transfers.push_back(request);
  }
  m_transferQueued.notify_one();
  return 0;
}

int32_t CDownloaderHTTP::Cancel(const DownloadRequest& /*request*/) {
  SetTransferCancel();
  // A fixed pause here made every stop take a second, even with nothing
  // in flight; the wait ends as soon as the transfer does.
  std::unique_lock<std::mutex> lock(m_transferLock);
  m_transferEnded.wait_for(lock, std::chrono::milliseconds(m_cancelWaitMs), [this] { return !m_transferRunning; });
  return 0;
}

void CDownloaderHTTP::OnStopRequested() {
  // As for the task worker: a stop ends the idle wait at once.
  { std::lock_guard<std::mutex> lock(m_transferLock); }
  m_transferQueued.notify_all();
}

void CDownloaderHTTP::Run() {
  while (IsRunning()) {
    DownloadRequest request;
    bool found = false;
    {
      // The idle poll period bounds the wait; a queued transfer ends it at
      // once, so sections do not wait out the poll one after another.
      std::unique_lock<std::mutex> lock(m_transferLock);
      m_transferQueued.wait_for(lock, std::chrono::milliseconds(kIdlePollMs),
                                [this] { return !m_transfers.empty() || !IsRunning(); });
      if (!m_transfers.empty() && IsRunning()) {
        request = m_transfers.front();
        m_transfers.pop_front();
        found = true;
        m_transferRunning = true;
      }
    }
    if (!found) continue;
    Transfer(request);
    {
      std::lock_guard<std::mutex> lock(m_transferLock);
      m_transferRunning = false;
    }
    m_transferEnded.notify_all();
  }
}

void CDownloaderHTTP::Transfer(const DownloadRequest& request) {
  m_lastSampleTick = Tick();
  m_lastSampleBytes = 0;
  const uint32_t result =
      m_fetch(request.url, request.localPath, 1, [this](int32_t done, int32_t total) { OnTransferProgress(done, total); });
  {
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_status.elapsed = GetElapsed();
    switch (result) {
      case kFetchOk:
        m_status.percent = 100.0f;
        m_status.status = kDownloadComplete;
        LogWrite(kLogTrace, kFinishedText, FormatElapsed(static_cast<int32_t>(m_status.elapsed)).c_str());
        break;
      case kFetchDisconnected:
        m_status.status = kDownloadConnectionLost;
        LogWrite(kLogError, "HTTPDownload Error : File [%s] code [%d]", request.localPath.c_str(), 4);
        break;
      case kFetchDiskFull:
        m_status.status = kDownloadDiskFull;
        LogWrite(kLogError, "HTTPDownload Error : File [%s] code[%d]", request.localPath.c_str(), 5);
        break;
      default:
        m_status.status = kDownloadFailed;
        LogWrite(kLogError, "HTTPDownload Error : File [%s] code[%d]", request.localPath.c_str(),
                 static_cast<int>(result));
        break;
    }
  }
  ReportStatus();
}

void CDownloaderHTTP::OnTransferProgress(int32_t done, int32_t total) {
  const float percent = total == 0 ? 0.0f : static_cast<float>(static_cast<double>(done) / total * 100.0);
  {
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_status.percent = percent;
    m_status.status = kDownloadInProgress;
    m_status.total = total;
    m_status.elapsed = GetElapsed();
  }
  if (Tick() - m_lastSampleTick >= kSpeedWindowMs) {
    {
      std::lock_guard<std::mutex> lock(m_statusLock);
      m_status.speed = static_cast<int64_t>(done) - m_lastSampleBytes;
    }
    m_lastSampleBytes = done;
    plat::SleepMs(10);
    m_lastSampleTick = Tick();
  }
  ReportStatus();
}

std::unique_ptr<CDownloader> CreateDownloader(int32_t type) {
  if (type != 0) return nullptr;
  return std::make_unique<CDownloaderHTTP>();
}
