// Finding a downloaded section cabinet again in its version folder.
#pragma once

#include <string>

// The path of cabName ("3N.cab") in folder (ending in a separator). When
// the folder holds numbered copies of that cabinet ("3N(2).cab"), the copy
// with the largest number above 0 is returned and the plain file and every
// other numbered copy are deleted; otherwise folder + cabName. Only names
// that are the cabinet's own stem, optionally followed by "(number)", with
// the extension ".cab" in any letter case, count as copies: another
// section's cabinet ("13N(1).cab") never does.
std::string FindCabPath(const std::string& folder, const std::string& cabName);
