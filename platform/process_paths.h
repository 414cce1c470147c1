// Folders of the running process.
#pragma once

#include <string>

namespace plat {

// Full path of the program's executable (GetModuleFileNameA).
std::string ModuleFileName();

// Drive and folder of the executable, ending in a separator.
std::string ModuleFolder();

// The current folder (GetCurrentDirectoryA), without a trailing separator
// unless it is a root.
std::string CurrentFolder();
bool SetCurrentFolder(const std::string& folder);

// The temporary folder (GetTempPathA), ending in a separator; the one a
// test set instead, if any.
std::string TempFolder();
std::string SystemTempFolder();
// Test seam: a process's own temporary folder (ending in a separator), so
// that test programs run side by side do not share the engine's files
// there. Empty: the system's again.
void SetTempFolderForTesting(const std::string& folder);

}  // namespace plat
