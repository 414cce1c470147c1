#include "workers/worker.h"

#include <condition_variable>
#include <mutex>
#include <system_error>

namespace {
// The start handshake of every worker: the thread signals once it has set
// its running flag, and StartThread waits for that signal.
std::mutex g_startMutex;
std::condition_variable g_startSignal;
}  // namespace

CWorker::CWorker() = default;

CWorker::~CWorker() { StopThread(); }

void CWorker::ThreadEntry() {
  m_running.store(1, std::memory_order_release);
  {
    std::lock_guard<std::mutex> lock(g_startMutex);
    m_startSignalled.store(true);
  }
  g_startSignal.notify_all();
  Run();
  m_running.store(0, std::memory_order_release);
}

bool CWorker::StartThread(const ThreadAttributes* /*attributes*/, int32_t /*priority*/) {
  // Every caller asks for the normal priority and default attributes, which
  // is what a std::thread gets.
  if (m_thread.joinable()) return false;
  m_startSignalled.store(false);
  try {
    m_thread = std::thread(&CWorker::ThreadEntry, this);
  } catch (const std::system_error&) {
    return false;
  }
  std::unique_lock<std::mutex> lock(g_startMutex);
  g_startSignal.wait(lock, [this] { return m_startSignalled.load(); });
  return true;
}

bool CWorker::StopThread() {
  if (!m_thread.joinable()) return false;
  m_running.store(0, std::memory_order_release);
  OnStopRequested();
  if (m_thread.get_id() == std::this_thread::get_id()) {
    // A worker stopped from its own thread cannot wait for itself.
    m_thread.detach();
  } else {
    m_thread.join();
  }
  return true;
}
