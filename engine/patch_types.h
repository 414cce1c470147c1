// The records exchanged between the launcher and the patch engine.
// Text fields are fixed, zero-terminated arrays; the layouts are those the
// 32-bit launcher was built against.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/message_sink.h"

constexpr size_t kEngineTextSize = 260;

// Flag bits of PatchStartParams::flags.
constexpr uint32_t kFlagLogEnabled = 1;
constexpr uint32_t kFlagLogVerbose = 2;
constexpr uint32_t kFlagRemoveStaleVersions = 4;
constexpr uint32_t kFlagRemoveDownloadFolder = 8;
// Repair: the run ends with a verification of every file that the patch
// lists above the minimal version name, and heals what differs; a client
// already at the latest version gets such a run too (init result 0, not 7).
constexpr uint32_t kFlagRepair = 16;

struct PatchStartParams {
  plat::WindowHandle ownerWindow;         // receives every engine message
  uint32_t progressMessage;               // message number of progress events (2024)
  uint32_t errorMessage;                  // message number of errors (2025)
  char manifestUrl[kEngineTextSize];      // full URL of "version.ini"
  char workingFolder[kEngineTextSize];    // the client's installation folder
  char versionSection[kEngineTextSize];   // manifest section of the version keys
  char downloadSection[kEngineTextSize];  // manifest section of the server lists
  uint32_t flags;                         // kFlag* bits
  uint32_t downloaderType;                // kind of download manager (0)
  uint32_t keepOldManifest;               // non-zero: a failed manifest fetch may use the old file
};

struct PatchStartResults {
  uint32_t latestVersion;
  uint32_t minimalVersion;
  uint32_t preDownStartVersion;
  uint32_t preDownEndVersion;
  uint32_t serverPatcherVersion;  // "OwnVersion", or "CoreVersion" when that is 0
  uint32_t localVersion;
  char firstServerUrl[kEngineTextSize];
};

// Run states of PatchStatus::state.
constexpr uint32_t kStateSelfUpdating = 1;
constexpr uint32_t kStateSelfUpdated = 2;
constexpr uint32_t kStateDownloading = 3;
constexpr uint32_t kStateQueueingExtract = 5;
constexpr uint32_t kStateExtracting = 6;
constexpr uint32_t kStatePatching = 7;
constexpr uint32_t kStateCommitting = 8;
constexpr uint32_t kStateVerifying = 9;
constexpr uint32_t kStateFinished = 10;

// The status the engine publishes; the launcher reads it between
// PLV5_LockStatus and PLV5_UnlockStatus. Parts: summary, task, download,
// extract, patch.
struct PatchStatus {
  // summary
  uint32_t state;                   // run state
  char stepText[kEngineTextSize];   // "%d/%d": versions done, versions to go
  float totalPercent;               // 0..100
  uint32_t version;                 // version being worked on
  uint16_t sectionCount;            // sections of that version
  uint16_t sectionsDownloaded;      // sections downloaded and verified
  // task
  char taskText[kEngineTextSize];
  float taskPercent;
  // download
  char downloadFile[kEngineTextSize];
  float downloadPercent;
  int64_t downloadTotalSize;  // bytes of the transfer
  int64_t downloadSpeed;      // bytes per sampling window
  uint32_t downloadReserved[2];
  uint32_t downloadElapsed;  // ms since the transfer started
  // extract
  char extractFile[kEngineTextSize];
  float extractPercent;
  // patch
  char patchFile[kEngineTextSize];
  float patchPercent;
};

// Copies a text into a status field, cut to fit with its terminator.
inline void SetStatusText(char (&field)[kEngineTextSize], const char* text) {
  size_t n = 0;
  for (; n + 1 < kEngineTextSize && text[n] != '\0'; ++n) field[n] = text[n];
  field[n] = '\0';
}

// The launcher and the engine of the 32-bit product share these records;
// pin their layout there.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(void*) == 4, "the product is a 32-bit program");
static_assert(sizeof(PatchStartParams) == 4 + 4 + 4 + 4 * 260 + 4 + 4 + 4, "PatchStartParams layout");
static_assert(offsetof(PatchStartParams, flags) == 12 + 4 * 260, "PatchStartParams layout");
static_assert(sizeof(PatchStartResults) == 6 * 4 + 260, "PatchStartResults layout");
static_assert(offsetof(PatchStatus, totalPercent) == 264, "PatchStatus layout");
static_assert(offsetof(PatchStatus, taskText) == 276, "PatchStatus layout");
static_assert(offsetof(PatchStatus, downloadFile) == 540, "PatchStatus layout");
static_assert(offsetof(PatchStatus, downloadTotalSize) == 808, "PatchStatus layout");
static_assert(offsetof(PatchStatus, extractFile) == 836, "PatchStatus layout");
static_assert(offsetof(PatchStatus, patchFile) == 1100, "PatchStatus layout");
static_assert(sizeof(PatchStatus) == 1368, "PatchStatus layout");
#endif
