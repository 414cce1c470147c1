// The local side of a transfer: creating the target file and asking how
// much room its disk has.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"

// Creates every missing folder along `path` (a failure there shows up as a
// failed create) and then the file itself, empty, read-write, shared for
// reading; an existing file is truncated. False when the file cannot be made.
bool FileCreate(const std::string& path, plat::File* file);

// Free bytes on the disk that holds `folder` (the current folder when it is
// empty); 0, with a level-4 log line, when the system cannot tell.
int64_t GetDiskFreeBytes(const std::string& folder);
