#include "launcher/status_texts.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "engine/patcher_version.h"

namespace {

std::string Printf(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Printf(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return std::string();
  return std::string(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
}

// A percentage as the status line shows it: truncated; values the engine
// should never send (negative, above 100, not a number) are held to 0..100.
int WholePercent(float percent) {
  if (!(percent > 0.0f)) return 0;
  if (percent >= 100.0f) return 100;
  return static_cast<int>(percent);
}

std::string Field(const char (&text)[kEngineTextSize]) {
  return std::string(text, std::find(text, text + kEngineTextSize, '\0'));
}

std::string DownloadText(const PatchStatus& status) {
  const double total = static_cast<double>(status.downloadTotalSize);
  const double done = status.downloadPercent != 0.0f ? total * status.downloadPercent * 0.01 : 0.0;
  const std::string step = Printf("%u (%u/%u)", status.version, status.sectionsDownloaded, status.sectionCount);
  return Printf("Downloading: %s", step.c_str()) + " " +
         Printf("%s / %s", FormatByteSize(done).c_str(), FormatByteSize(total).c_str());
}

}  // namespace

std::string WindowTitle(bool system64) {
  return Printf(system64 ? "%s v%d on X64" : "%s v%d on X86", kPatcherName, static_cast<int>(kPatcherVersion));
}

std::string LauncherErrorText(uint32_t code) {
  switch (code) {
    case 0: return std::string();
    case 1: return "Patcher is already running.";
    case 2: return "Failed to load url of version.ini.";
    case 3: return "Failed to download version.ini.";
    case 4: return "Failed to load local version.";
    case 5: return "Your client is old version.\nRe-install the latest version game client";
    case 6: return "Your client is invalid version.\nRe-install the latest version game client.";
    case 8: return "Failed to execute self-update file.";
    case 9: return "Failed to execute game client.";
    case 10: return "Invalid Custom-ID.";
    case 11: return "Failed to initilize downloader";
    default: return Printf("%s : (code : %d)", "Unknown Error", static_cast<int>(code));
  }
}

std::string EngineErrorText(uint32_t code) {
  switch (code) {
    case 0:
    case 2: return std::string();
    case 1:
    case 3:
    case 4:
    case 5: return "Failed to download patch file.";
    case 6: return "Failed to extract patch file.";
    case 8: return "Failed to download self-update file.";
    case 9:
    case 10: return "Failed to download patch-list file.";
    case 11: return "Cannot find file needed for patch.";
    case 12: return "Failed to copy file needed for patch.";
    case 13: return "You have invalid type of patch file.";
    case 14:
    case 15:
    case 16:
    case 17: return "Failed to update file during patch.";
    case 18:
    case 20: return "Wrong CRC has been detected.";
    case 19: return "Failed to update game client version.";
    case 21: return "Invalid QLMV version";
    default: return Printf("%s : (code : %d)", "Failed to patch.", static_cast<int>(code));
  }
}

std::string FormatByteSize(double bytes) {
  constexpr double kKilo = 1024.0;
  constexpr double kMega = kKilo * 1024.0;
  constexpr double kGiga = kMega * 1024.0;
  if (bytes < kMega) return Printf("%5.2f KB", bytes / kKilo);
  if (bytes < kGiga) return Printf("%5.2f MB", bytes / kMega);
  return Printf("%5.2f GB", bytes / kGiga);
}

void UpdateStatusDisplay(StatusDisplay* display, const PatchStatus& status, uint32_t kind) {
  int bar = -1;  // -1: the bar stays
  switch (kind) {
    case 2:
      display->text = DownloadText(status);
      if (display->resetStatus) {
        display->text = kLoadingText;
        display->resetStatus = false;
      }
      break;
    case 4:
    case 5:
    case 6:
      display->text = Printf("%s %d%%", "Self-Patching...", WholePercent(status.taskPercent));
      bar = WholePercent(status.taskPercent);
      break;
    case 7:
    case 8:
      display->text = Printf("Verifing: %s %d%%", Field(status.taskText).c_str(), WholePercent(status.taskPercent));
      break;
    case 9:
    case 15:
    case 18:
      display->text = kLoadingText;
      break;
    case 10:
    case 11:
    case 12:
      display->text = Printf("Checking: %s %d%%", Field(status.taskText).c_str(), WholePercent(status.taskPercent));
      bar = WholePercent(status.totalPercent);
      break;
    case 13:
    case 14:
      display->text =
          Printf("Patching: %s %d%%", Field(status.patchFile).c_str(), WholePercent(status.patchPercent));
      if (status.patchPercent == 100.0f) display->resetStatus = true;
      bar = WholePercent(status.totalPercent);
      break;
    case 16:
    case 17:
      display->text =
          Printf("Extracting: %s %d%%", Field(status.extractFile).c_str(), WholePercent(status.extractPercent));
      bar = WholePercent(status.totalPercent);
      break;
    default:
      break;
  }
  display->totalBar = std::max(display->totalBar, bar);
}

void ShowReady(StatusDisplay* display) {
  display->text = kReadyText;
  display->totalBar = 100;
}
