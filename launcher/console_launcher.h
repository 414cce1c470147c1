// The console front-end of CPatchWrapper: what the window does, in a
// terminal. The status line and a progress bar are redrawn on one line on a
// terminal, printed as plain lines otherwise, or written as one JSON object
// a line with --json; the texts of message boxes go to standard error. The
// run ends with an exit status that scripts test (kExit* below).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "launcher/patch_wrapper.h"
#include "launcher/status_texts.h"

// Exit statuses besides the launcher error codes (1..11) and
// kExitEngineErrorBase + the engine error code.
constexpr int kExitReady = 0;
constexpr int kExitMaintenance = 12;  // a maintenance notice was shown
constexpr int kExitSelfUpdate = 13;   // the self-updater was started
constexpr int kExitUsage = 64;        // a wrong command line
constexpr int kExitEngineErrorBase = 100;

struct ConsoleOptions {
  bool json = false;
  bool noLaunch = false;  // stop at "Ready to Play!" without starting the game
  bool help = false;
  std::string unknown;  // the first unknown "--" switch
};

// The switches among the arguments. Other words (such as "-debug") are
// left to the command-line join, as the window leaves them.
ConsoleOptions ParseConsoleOptions(const std::vector<std::string>& arguments);
const char* ConsoleUsage();

class ConsoleLauncher : public CPatchWrapper {
 public:
  ConsoleLauncher(const ConsoleOptions& options, bool terminal, FILE* out, FILE* err,
                  EngineEntries engine = RealEngineEntries());

  // Initialize, RequestSelfUpdate, RequestPatch, then the loop on `loop`
  // until the launcher closes. Returns the exit status.
  int Run(plat::MessageLoop& loop);

  bool Closed() const { return closed_; }
  int ExitStatus() const { return exitStatus_; }

  void OnFatalError(uint32_t code) override;
  void OnEngineError(uint32_t code) override;
  void OnProgress(const PatchStatus& status, uint32_t kind, intptr_t value) override;
  void ShowMessage(const std::string& text) override;
  void CloseWindow(int result) override;
  void OnReady() override;
  std::string GetLaunchArguments() override;
  void ShowLaunchError(const std::string& text) override;

 private:
  void Box(const char* caption, const std::string& text);
  void ShowLine(bool final);
  void EndLine();
  void Json(const std::string& fields);
  // Sets the exit status unless an earlier outcome already did.
  void Outcome(int status);

  ConsoleOptions options_;
  bool terminal_;
  FILE* out_;
  FILE* err_;
  StatusDisplay display_;
  std::string lastLine_;
  size_t drawnWidth_ = 0;  // characters of the open terminal line
  std::chrono::steady_clock::time_point lastPlain_{};
  int lastPlainBar_ = -1;
  bool closed_ = false;
  bool outcomeSet_ = false;
  int exitStatus_ = kExitReady;
};
