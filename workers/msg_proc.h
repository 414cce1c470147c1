// CMsgProc: a first-in-first-out queue of engine events with one consumer.
//
// Any thread may post; the consuming thread calls ProcessOneEvent, which
// hands at most one event to OnMessage, outside the queue lock (so
// OnMessage may post to the same queue).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

struct EngineEvent {
  uint32_t type;           // what happened
  uint32_t value;          // goes with the type, e.g. a percentage
  uint32_t sectionOrCode;  // section number, download request number or error code
  std::string text;        // file name or message; empty for most types
};

class CMsgProc {
 public:
  CMsgProc() = default;
  virtual ~CMsgProc();
  CMsgProc(const CMsgProc&) = delete;
  CMsgProc& operator=(const CMsgProc&) = delete;

  virtual void OnMessage(const EngineEvent& event) = 0;

  // Note the order: the second argument is the section-or-code, the third the value.
  void PostEngineEvent(uint32_t type, uint32_t sectionOrCode, uint32_t value);
  void PostEngineEventRecord(const EngineEvent& event);

  // Hands the oldest event, if any, to OnMessage. True when one was handled.
  bool ProcessOneEvent();

  // Waits up to timeoutMs for an event to be queued; true when one is
  // waiting. Lets a consumer sleep without delaying new work.
  bool WaitForEvent(uint32_t timeoutMs);

  // Throws away every queued event.
  void ClearEvents();
  size_t PendingEvents();

 private:
  std::mutex m_queueLock;
  std::condition_variable m_queued;
  std::deque<EngineEvent> m_queue;
};
