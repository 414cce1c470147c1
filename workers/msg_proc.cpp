#include "workers/msg_proc.h"

#include <chrono>

CMsgProc::~CMsgProc() { ClearEvents(); }

void CMsgProc::PostEngineEvent(uint32_t type, uint32_t sectionOrCode, uint32_t value) {
  PostEngineEventRecord(EngineEvent{type, value, sectionOrCode, std::string()});
}

void CMsgProc::PostEngineEventRecord(const EngineEvent& event) {
  {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_queue.push_back(event);
  }
  m_queued.notify_one();
}

bool CMsgProc::ProcessOneEvent() {
  EngineEvent event;
  {
    std::lock_guard<std::mutex> lock(m_queueLock);
    if (m_queue.empty()) return false;
    event = std::move(m_queue.front());
    m_queue.pop_front();
  }
  OnMessage(event);
  return true;
}

bool CMsgProc::WaitForEvent(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(m_queueLock);
  return m_queued.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_queue.empty(); });
}

void CMsgProc::ClearEvents() {
  std::lock_guard<std::mutex> lock(m_queueLock);
  m_queue.clear();
}

size_t CMsgProc::PendingEvents() {
  std::lock_guard<std::mutex> lock(m_queueLock);
  return m_queue.size();
}
