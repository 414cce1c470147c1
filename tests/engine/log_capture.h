// Points the patch log at a temp folder with a fixed clock, and reads back
// what was written.
#pragma once

#include <string>

#include "engine/patch_log.h"
#include "tests/support/test_support.h"

class LogCapture {
 public:
  explicit LogCapture(uint32_t mask = 0xFFFFFFFFu) {
    LogSetClockForTesting([] { return plat::LocalTime{2026, 12, 7, 14, 3, 27, 0}; });
    LogConfigure(kLogToFile, (dir_.Path() + "Patch").c_str(), mask);
  }
  ~LogCapture() {
    LogConfigure(0, "Log", 0xFFFFFFFFu);
    LogSetClockForTesting(nullptr);
  }
  std::string Text() const { return testsupport::ReadFileText(dir_.Path() + "Patch_2026-12-07 14.log"); }
  bool Contains(const std::string& line) const { return Text().find(line) != std::string::npos; }

 private:
  testsupport::TempDir dir_;
};
