// Writable memory mappings of whole files, in the steps of the Windows API
// (CreateFileA, GetFileSize, CreateFileMappingA, MapViewOfFile) so that the
// caller can keep each handle in its own field.
//
// A file is opened for reading and writing, existing files only, with no
// sharing: while it is open here no other opener may have it. Windows
// enforces that for every opener. POSIX has no mandatory sharing modes, so
// the POSIX backend takes an exclusive advisory lock (flock) instead: two
// openers through this interface exclude each other, other programs are
// not stopped. A read-only file is refused on both, as Windows does.
//
// A read-only opener (MapAccess::kRead) shares the file with other readers
// and refuses writers, as FILE_SHARE_READ does; on POSIX it takes a shared
// lock, which excludes the read-write openers above. Its views must not be
// written through.
//
// Handles are intptr_t values, kNoMapHandle when not open. On POSIX the
// "mapping handle" is a duplicate of the file descriptor, so both handles
// are real and are closed separately, as on Windows.
//
// Threads: handles are not shared between threads by the callers.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

constexpr intptr_t kNoMapHandle = -1;

enum class MapAccess { kReadWrite, kRead };

// Opens an existing file (engine path) for mapping; kNoMapHandle with
// LastError on failure (kErrorSharingViolation when another opener holds it).
intptr_t MapFileOpen(const std::string& path, MapAccess access = MapAccess::kReadWrite);

// The file's size; false on failure.
bool MapFileSize(intptr_t file, uint64_t* size);

// A mapping object of exactly `size` bytes (not 0) over the file, with the
// access the file was opened with; kNoMapHandle on failure.
intptr_t MapFileCreateMapping(intptr_t file, uint32_t size, MapAccess access = MapAccess::kReadWrite);

// A view of the first `size` bytes of the mapping; null on failure. With
// kReadWrite, stores through it reach the file.
void* MapFileView(intptr_t mapping, uint32_t size, MapAccess access = MapAccess::kReadWrite);

// Unmaps a view from MapFileView (`size` as given there). Null is ignored.
void MapFileUnmap(void* view, uint32_t size);

// Closes a file or mapping handle. kNoMapHandle is ignored.
void MapFileClose(intptr_t handle);

}  // namespace plat
