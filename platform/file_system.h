// Files and folders with the semantics of the Windows file API, which the
// engine was designed around: Windows error codes, attributes, replacing
// moves and wildcard enumeration. Paths are engine paths (see path.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace plat {

// Windows error codes, reported by both backends through LastError().
constexpr uint32_t kErrorSuccess = 0;
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorNotEnoughMemory = 8;
constexpr uint32_t kErrorReadFault = 30;
constexpr uint32_t kErrorSharingViolation = 32;
constexpr uint32_t kErrorHandleEof = 38;
constexpr uint32_t kErrorFileExists = 80;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorDirNotEmpty = 145;
constexpr uint32_t kErrorAlreadyExists = 183;
constexpr uint32_t kErrorFilenameTooLong = 206;
constexpr uint32_t kErrorDirectoryName = 267;
constexpr uint32_t kErrorNoMoreFiles = 18;

// The calling thread's last error, like GetLastError/SetLastError.
uint32_t LastError();
void SetLastError(uint32_t code);

// File attributes (the Windows bit values).
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// kInvalidAttributes (with LastError) when the path does not exist. On
// POSIX a file without owner write permission reports kAttrReadOnly, and a
// name that begins with '.' is not hidden.
uint32_t GetAttributes(const std::string& path);
// Only kAttrReadOnly has an effect on POSIX (it clears or restores write
// permission); kAttrNormal clears it.
bool SetAttributes(const std::string& path, uint32_t attributes);

bool FileExists(const std::string& path);       // an existing file, not a folder
bool DirectoryExists(const std::string& path);  // an existing folder

// Fails with kErrorAlreadyExists when the name is taken, and with
// kErrorPathNotFound when the parent is missing.
bool CreateFolder(const std::string& path);
// Removes an empty folder.
bool RemoveFolder(const std::string& path);
// Fails with kErrorAccessDenied for a read-only file, as Windows does.
bool RemoveFile(const std::string& path);
// MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED: the
// target file is replaced; a target that is a folder makes the move fail.
bool MoveReplace(const std::string& from, const std::string& to);
// MoveReplace within one folder that is on disk when it returns: on
// Windows MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH,
// elsewhere a rename followed by a sync of the folder.
bool MoveReplaceDurably(const std::string& from, const std::string& to);
// Puts the names created, renamed or removed in `folder` on disk (fsync of
// the folder). Windows has no such call for a folder; there it does nothing,
// and the moves that need it write through instead.
bool SyncFolder(const std::string& folder);
// MoveFileA: fails with kErrorAlreadyExists when the target exists.
bool MoveNoReplace(const std::string& from, const std::string& to);
// CopyFileA.
bool CopyOneFile(const std::string& from, const std::string& to, bool failIfExists);
// Size of an existing file.
bool FileSize(const std::string& path, uint64_t* size);

// What tells a file's present contents apart without reading them: the
// volume and file identity, the size, and the times of the last write and
// of the last change to the file or its metadata, in nanoseconds since 1970
// (on POSIX the change time is st_ctime, which no caller can set; on Windows
// it is the ChangeTime of the file's basic information, or the write time
// where the file system has none).
struct FileStamp {
  uint64_t volume = 0;
  uint64_t id = 0;
  uint64_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;
  bool operator==(const FileStamp& other) const {
    return volume == other.volume && id == other.id && size == other.size && modifiedNs == other.modifiedNs &&
           changedNs == other.changedNs;
  }
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
};
// The stamp of an existing file (not a folder).
bool GetFileStamp(const std::string& path, FileStamp* stamp);
// The time of the clock the file system stamps files with, in the same
// unit as FileStamp.
int64_t FileClockNowNs();

// One entry of a folder listing.
struct FindEntry {
  std::string name;     // the name within the folder
  uint32_t attributes;  // kAttr* bits; kAttrDirectory for folders
  uint64_t size;        // 0 for folders
  bool IsDirectory() const { return (attributes & kAttrDirectory) != 0; }
};

// FindFirstFileA/FindNextFileA: lists the folder part of `pattern` with the
// Windows wildcard (*, ?) of its last component, matched without regard to
// letter case; "*" and "*.*" match every name, "." and ".." included.
// Returns false (LastError kErrorFileNotFound or kErrorPathNotFound) when
// nothing matches or the folder is missing.
bool FindEntries(const std::string& pattern, std::vector<FindEntry>* entries);

// Windows wildcard match of one name (no folder part).
bool WildcardMatch(const std::string& pattern, const std::string& name);

// Replaces the file at `path` with `size` bytes so that a crash at any
// moment leaves either the old file or the new one, whole: the bytes go to
// "<path>.tmp" beside it and that file is moved over `path`. With
// `toDisk` both steps are synced to disk first, so a power cut keeps the
// new file too (two disk round trips); without, a killed process cannot
// cut the file, but a power cut may bring the old one back. The temporary
// file is removed again on failure. The target's read-only attribute is not
// cleared.
enum class ReplaceResult {
  kDone,
  kCreateFailed,  // the temporary file could not be created
  kWriteFailed,   // writing, flushing or moving it failed
};
ReplaceResult ReplaceFileContents(const std::string& path, const void* data, uint32_t size, bool toDisk = true);

// Bytes free for the caller on the volume that holds `folder`.
bool DiskFreeBytes(const std::string& folder, uint64_t* freeBytes);

// An open file. Closed by the destructor; movable, not copyable.
class File {
 public:
  enum Access : uint32_t { kRead = 1, kWrite = 2, kReadWrite = 3 };
  enum Share : uint32_t { kShareNone = 0, kShareRead = 1, kShareWrite = 2, kShareDelete = 4 };
  enum Disposition : uint32_t {
    kCreateNew = 1,         // fails when the file exists
    kCreateAlways = 2,      // creates or truncates
    kOpenExisting = 3,      // fails when the file is missing
    kOpenAlways = 4,        // opens or creates
    kTruncateExisting = 5,  // opens and truncates; fails when missing
  };

  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // CreateFileA. `share` is enforced on Windows only.
  bool Open(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition);
  bool IsOpen() const;
  // CloseHandle: false (with LastError, kErrorDiskFull among them) when the
  // system could not finish the file's writes; closed all the same.
  bool Close();

  // ReadFile: *done < size only at the end of the file.
  bool Read(void* buffer, uint32_t size, uint32_t* done);
  // WriteFile: all or an error (kErrorDiskFull when the volume is full).
  bool Write(const void* buffer, uint32_t size, uint32_t* done);
  // SetFilePointerEx; whence 0 = begin, 1 = current, 2 = end.
  bool Seek(int64_t offset, int whence, uint64_t* newPosition = nullptr);
  bool Size(uint64_t* size);
  // Puts the written bytes on disk (fsync, FlushFileBuffers): a slow call,
  // for files that must survive a power cut, not for every write.
  bool Flush();
  // Cuts the file at the current position.
  bool Truncate();

 private:
  intptr_t handle_ = -1;
  std::string path_;  // kept only while a fault hook is installed
};

// Fault injection for tests (a seam that costs the product one flag test
// per write, close or move): while a hook is installed, File::Write,
// File::Close, the moves above and the patch output stream ask it before
// they act, with the file's path (the source of a move), and fail as the
// system would when it answers true: a write or a close (whose handle is
// closed all the same) with kErrorDiskFull, a move with kErrorAccessDenied. An
// empty function removes the hook. Files opened before the hook was
// installed are not seen.
enum class FileFault { kWrite, kMove, kClose };
using FileFaultHook = std::function<bool(FileFault operation, const std::string& path)>;
void SetFileFaultHookForTesting(FileFaultHook hook);
// True when the installed hook asks this operation to fail; always false
// without a hook.
bool FileFaultInjected(FileFault operation, const std::string& path);
bool FileFaultHookInstalled();

}  // namespace plat
