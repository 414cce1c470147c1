// The engine's entry functions, called by the launcher on its own thread.
#pragma once

#include <cstdint>
#include <string>

#include "engine/patch_types.h"

// Configures the log (the marker file "debug_patch.ini" beside the
// executable turns on full logging) and initialises the engine. Returns 0
// (ready to patch), 3, 4, 5, 6, 7 (nothing to do) or 11.
uint32_t PLV5_Init(PatchStartParams params, PatchStartResults* results);
// The flags with logging fully on (OR 3) when "debug_patch.ini" exists in
// the given executable folder, whatever it holds; else unchanged.
uint32_t ApplyDebugMarker(const std::string& moduleFolder, uint32_t flags);
// 1 when the engine thread runs with the first version step queued, else 0.
uint32_t PLV5_StartPatch();
// 1 when the engine thread runs with the self-update queued, else 0.
uint32_t PLV5_StartSelfUpdate();
// Stops the engine thread, the task workers and the download manager.
void PLV5_Uninit();
// The published status; read it only until PLV5_UnlockStatus.
PatchStatus* PLV5_LockStatus();
void PLV5_UnlockStatus();
// Fetches one URL into one file (no resume, no progress), on the calling
// thread; true when the file arrived whole.
bool PLV5_DownloadFile(const std::string& url, const std::string& file);
