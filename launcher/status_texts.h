// The words the launcher shows: launcher and engine error texts, the status
// line by progress kind and the total bar. The window and the console
// launcher both format through these, so a player sees the same text in
// either front-end.
//
// Texts are narrow strings. The fixed words are ASCII; file and version
// names copied from the engine's status record stay in the engine's code
// page (the system's ANSI code page on Windows, UTF-8 elsewhere), so a
// Windows window converts the whole text with CP_ACP.
#pragma once

#include <cstdint>
#include <string>

#include "engine/patch_types.h"

inline constexpr char kPatcherName[] = "Halvrecht Patcher";
inline constexpr char kLoadingText[] = "Loading...";
inline constexpr char kReadyText[] = "Ready to Play!";
// Caption of the box that reports a failed program start.
inline constexpr char kLaunchErrorCaption[] = "Halvrecht Patcher Error";

// "Halvrecht Patcher v28 on X64" (a 64-bit system) or "... on X86".
std::string WindowTitle(bool system64);

// The text for a launcher error code (1 to 11, or an init result passed on);
// "" for 0, which shows nothing. 7 and unknown codes read
// "Unknown Error : (code : N)".
std::string LauncherErrorText(uint32_t code);

// The text for an engine error code (wParam of the error message); "" for
// 0 and 2, which show no box. 7 and codes above 21 read
// "Failed to patch. : (code : N)".
std::string EngineErrorText(uint32_t code);

// A byte count as "%5.2f KB", "%5.2f MB" or "%5.2f GB" (units of 1024):
// KB below one MB, MB below one GB, GB from there on.
std::string FormatByteSize(double bytes);

// What the status line and the total bar show. A front-end keeps one per
// window and hands every progress event to UpdateStatusDisplay.
struct StatusDisplay {
  std::string text = kLoadingText;
  // 0..100. It never goes back: a later event with a lower total (the
  // engine recomputes it from per-phase counters) leaves it where it is.
  int totalBar = 0;
  // Set when a patch run starts and when a file's patching reaches 100 %;
  // the next download event then shows "Loading..." once and clears it.
  bool resetStatus = true;
};

// Applies one progress event of `kind` (1..19) with the status record
// read under PLV5_LockStatus. Kinds that change nothing leave the display
// as it was. Percentages are truncated to whole numbers (99.9 shows 99).
void UpdateStatusDisplay(StatusDisplay* display, const PatchStatus& status, uint32_t kind);

// The display when the client is ready: kReadyText and a full bar.
void ShowReady(StatusDisplay* display);
