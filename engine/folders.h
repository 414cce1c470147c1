// Folder helpers shared by the engine.
#pragma once

#include <string>

// Creates every folder on the folder part of filePath (the file itself is
// not created). A folder that exists already is fine; any other failure
// ends the walk with false. Paths of 260 bytes or more are refused.
bool RecCreateDirectoryFile(const std::string& filePath);

// Creates folder and all missing parents.
bool RecCreateDirectory(const std::string& folder);

// Deletes folder with everything in it (read-only entries included). Stops
// at the first entry that cannot be deleted and returns false, leaving the
// rest in place; an empty name is false.
bool DeleteFolder(const std::string& folder);
