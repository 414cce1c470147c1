// Engine paths are Windows-style text ('\\' separators, case-insensitive
// names). These helpers turn them into what the running system takes.
#pragma once

#include <string>

namespace plat {

// The path as the operating system takes it. On POSIX every '\\' becomes
// '/', and each component that does not exist with its exact spelling is
// replaced by an existing entry of the same folder whose name differs only
// in letter case (LowerAnsi); components that do not exist at all are kept as
// given, so new files are created with the engine's spelling. On Windows the
// path is returned unchanged.
std::string ToNativePath(const std::string& enginePath);

// True for '\\' and '/'.
inline bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

// The text up to and including the last separator ("" when there is none).
std::string FolderOf(const std::string& path);

// The text after the last separator.
std::string FileNameOf(const std::string& path);

}  // namespace plat
