#include "download/downloader.h"

#include <atomic>

#include "engine/patch_log.h"
#include "platform/clock.h"
#include "platform/path.h"

namespace {

std::atomic<uint32_t> g_requestCounter{0};

constexpr uint32_t kReportIntervalMs = 100;

// Name and extension of a path, without drive or folders.
std::string FileNameWithoutFolder(const std::string& path) {
  std::string name = plat::FileNameOf(path);
  if (name.size() >= 2 && name[1] == ':') name.erase(0, 2);
  return name;
}

}  // namespace

CDownloader::CDownloader() = default;

CDownloader::~CDownloader() = default;

int32_t CDownloader::Init(uint32_t /*localVersion*/, NotifierDownloadStatus* notifier,
                          const std::string& /*manifestPath*/) {
  m_notifier = notifier;
  return 0;
}

int32_t CDownloader::QueueTransfer(const DownloadRequest& /*request*/) { return kDownloaderFail; }

int32_t CDownloader::Cancel(const DownloadRequest& /*request*/) { return 0; }

void CDownloader::GetStatus(DownloadStatus* status) {
  std::lock_guard<std::mutex> lock(m_statusLock);
  *status = m_status;
}

int32_t CDownloader::RequestDownload(const std::string& url, const std::string& localPath, uint32_t* requestNumber) {
  DownloadRequest request;
  request.requestNumber = ++g_requestCounter;
  request.url = url;
  request.localPath = localPath;
  request.fileName = FileNameWithoutFolder(localPath);
  LogWrite(kLogTrace, "Request to download : FileName [%s]", request.fileName.c_str());
  {
    std::lock_guard<std::mutex> lock(m_pendingLock);
    m_pending.push_back(request);
  }
  *requestNumber = request.requestNumber;
  return 0;
}

int32_t CDownloader::DownloadNext() {
  {
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_status = DownloadStatus();
  }
  bool found = false;
  DownloadRequest current;
  {
    std::lock_guard<std::mutex> lock(m_pendingLock);
    if (!m_pending.empty()) {
      m_current = m_pending.front();
      m_pending.pop_front();
      current = m_current;
      found = true;
    }
  }
  if (!found) {
    LogWrite(kLogError, "No more downloading informations");
    m_lastError = kDownloaderNothingPending;
    return kDownloaderFail;
  }
  // Before the status says "downloading": the download thread reads the
  // start tick as soon as the request is in its queue.
  m_startTick.store(Tick());
  {
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_status.requestNumber = current.requestNumber;
    m_status.fileName = current.fileName;
    m_status.status = kDownloadInProgress;
  }
  LogWrite(kLogTrace, "Start to download file : %s", current.fileName.c_str());
  return QueueTransfer(current);
}

DownloadRequest CDownloader::CurrentRequest() {
  std::lock_guard<std::mutex> lock(m_pendingLock);
  return m_current;
}

uint32_t CDownloader::GetElapsed() const { return Tick() - m_startTick.load(); }

void CDownloader::SetTickSourceForTesting(std::function<uint32_t()> tick) { m_tick = std::move(tick); }

uint32_t CDownloader::Tick() const { return m_tick ? m_tick() : plat::TickCount(); }

void CDownloader::ReportStatus() {
  if (m_notifier == nullptr) return;
  DownloadStatus snapshot;
  {
    std::lock_guard<std::mutex> lock(m_statusLock);
    snapshot = m_status;
  }
  const bool same = snapshot.status == m_lastReport.status && snapshot.total == m_lastReport.total &&
                    snapshot.requestNumber == m_lastReport.requestNumber &&
                    snapshot.fileName == m_lastReport.fileName;
  if (m_reportedOnce && same && Tick() - m_lastReportTick < kReportIntervalMs) return;
  m_lastReport = snapshot;
  m_reportedOnce = true;
  m_notifier->OnDownloadStatus(snapshot.status, snapshot.requestNumber);
  m_lastReportTick = Tick();
}
