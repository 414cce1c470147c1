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

// The temporary folder (GetTempPathA), ending in a separator.
std::string TempFolder();

}  // namespace plat
