// What the extract and patch tasks need from the engine that queues them:
// the engine's settings (copied into every task), its stop flag and its
// event queue. The engine implements TaskHost; tests supply their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/message_sink.h"
#include "workers/msg_proc.h"

// Engine event types the tasks post.
constexpr uint32_t kEventTypeError = 0;
constexpr uint32_t kEventTypeExtractProgress = 13;
constexpr uint32_t kEventTypeExtractDone = 14;
constexpr uint32_t kEventTypePatchProgress = 16;
constexpr uint32_t kEventTypeSectionPatched = 17;

// The settings part of the engine, copied into each task.
struct EngineSettings {
  plat::WindowHandle ownerWindow = nullptr;
  uint32_t progressMessage = 0;
  uint32_t errorMessage = 0;
  std::string workingFolder;   // ends in a separator
  std::string downloadFolder;  // working folder + "backup\\"
  std::string tempFolder;      // working folder + "backup\\temp\\"
  std::string outputFolder;    // working folder + "backup\\output\\"
  uint32_t latestVersion = 0;
  uint32_t minimalVersion = 0;
  uint32_t preDownStartVersion = 0;
  uint32_t preDownEndVersion = 0;
  uint32_t serverPatcherVersion = 0;
  uint32_t flags = 0;
  std::vector<std::string> downloadUrls;
};

class TaskHost {
 public:
  // The engine's stop flag: set, a task ends at its next check.
  virtual bool Stopping() const = 0;
  // Queues an engine event; callable from any thread.
  virtual void PostTaskEvent(const EngineEvent& event) = 0;

  void PostTaskEvent(uint32_t type, uint32_t value, uint32_t sectionOrCode, const std::string& text = std::string()) {
    PostTaskEvent(EngineEvent{type, value, sectionOrCode, text});
  }
  // An engine error: type 0 with the code.
  void ReportTaskError(uint32_t code) { PostTaskEvent(EngineEvent{kEventTypeError, 0, code, std::string()}); }

 protected:
  ~TaskHost() = default;
};
