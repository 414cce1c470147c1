#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/file_system.h"
#include "platform/path.h"

namespace plat {

namespace {

thread_local uint32_t t_lastError = 0;

bool ParentExists(const std::string& nativePath) {
  std::string folder = FolderOf(nativePath);
  if (folder.empty()) return true;
  struct stat st;
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Sets the Windows code that matches errno for an operation on `nativePath`.
bool Fail(int err, const std::string& nativePath) {
  uint32_t code;
  switch (err) {
    case ENOENT: code = ParentExists(nativePath) ? kErrorFileNotFound : kErrorPathNotFound; break;
    case ENOTDIR: code = kErrorPathNotFound; break;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case EBUSY: code = kErrorAccessDenied; break;
    case EEXIST: code = kErrorAlreadyExists; break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: code = kErrorDiskFull; break;
    case ENOTEMPTY: code = kErrorDirNotEmpty; break;
    case ENAMETOOLONG: code = kErrorFilenameTooLong; break;
    case ENOMEM: code = kErrorNotEnoughMemory; break;
    case EIO: code = kErrorReadFault; break;
    case EBADF: code = kErrorInvalidHandle; break;
    default: code = kErrorInvalidParameter; break;
  }
  t_lastError = code;
  return false;
}

bool FailWith(uint32_t code) {
  t_lastError = code;
  return false;
}

// Windows refuses to write, replace or delete a read-only file even for an
// administrator; the engine relies on that (it clears the attribute first),
// so the check is made here rather than left to permissions, which root
// would bypass.
bool IsReadOnlyFile(const struct stat& st) { return S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0; }

}  // namespace

uint32_t LastError() { return t_lastError; }
void SetLastError(uint32_t code) { t_lastError = code; }

uint32_t GetAttributes(const std::string& path) {
  const std::string native = ToNativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) {
    Fail(errno, native);
    return kInvalidAttributes;
  }
  if (S_ISDIR(st.st_mode)) return kAttrDirectory;
  return IsReadOnlyFile(st) ? (kAttrReadOnly | kAttrArchive) : kAttrArchive;
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
  const std::string native = ToNativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return Fail(errno, native);
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttrReadOnly) {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  } else {
    mode |= S_IWUSR;
  }
  if (chmod(native.c_str(), mode) != 0) return Fail(errno, native);
  return true;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(ToNativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return stat(ToNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateFolder(const std::string& path) {
  std::string native = ToNativePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (mkdir(native.c_str(), 0777) != 0) return Fail(errno, native);
  return true;
}

bool RemoveFolder(const std::string& path) {
  const std::string native = ToNativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) return FailWith(kErrorDirectoryName);
  if (rmdir(native.c_str()) != 0) return Fail(errno, native);
  return true;
}

bool RemoveFile(const std::string& path) {
  const std::string native = ToNativePath(path);
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) return Fail(errno, native);
  if (S_ISDIR(st.st_mode) || IsReadOnlyFile(st)) return FailWith(kErrorAccessDenied);
  if (unlink(native.c_str()) != 0) return Fail(errno, native);
  return true;
}

namespace {

bool CopyContents(const std::string& from, const std::string& to, bool failIfExists) {
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Fail(errno, from);
  struct stat st;
  if (fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(in);
    return FailWith(kErrorAccessDenied);
  }
  int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (failIfExists ? O_EXCL : 0);
  int out = open(to.c_str(), flags, st.st_mode & 0777);
  if (out < 0) {
    int err = errno;
    close(in);
    if (err == EEXIST) return FailWith(kErrorFileExists);
    return Fail(err, to);
  }
  char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = Fail(errno, from);
      break;
    }
    ssize_t off = 0;
    while (off < got) {
      ssize_t put = write(out, buffer + off, static_cast<size_t>(got - off));
      if (put < 0) {
        if (errno == EINTR) continue;
        ok = Fail(errno, to);
        break;
      }
      off += put;
    }
    if (!ok) break;
  }
  if (close(out) != 0 && ok) ok = Fail(errno, to);
  close(in);
  if (!ok) unlink(to.c_str());
  return ok;
}

}  // namespace

bool MoveReplace(const std::string& from, const std::string& to) {
  if (FileFaultInjected(FileFault::kMove, from)) return false;
  const std::string src = ToNativePath(from);
  const std::string dst = ToNativePath(to);
  struct stat st, dt;
  if (lstat(src.c_str(), &st) != 0) return Fail(errno, src);
  if (lstat(dst.c_str(), &dt) == 0) {
    // Windows never replaces a folder, nor a read-only file.
    if (S_ISDIR(dt.st_mode) || IsReadOnlyFile(dt)) return FailWith(kErrorAccessDenied);
    if (S_ISDIR(st.st_mode)) return FailWith(kErrorAlreadyExists);
  }
  if (rename(src.c_str(), dst.c_str()) == 0) return true;
  if (errno != EXDEV || S_ISDIR(st.st_mode)) return Fail(errno, dst);
  // Across volumes a move is a copy and a delete, as MOVEFILE_COPY_ALLOWED allows.
  if (!CopyContents(src, dst, false)) return false;
  if (unlink(src.c_str()) != 0) return Fail(errno, src);
  return true;
}

bool MoveReplaceDurably(const std::string& from, const std::string& to) {
  return MoveReplace(from, to) && SyncFolder(FolderOf(to));
}

bool SyncFolder(const std::string& folder) {
  const std::string native = ToNativePath(folder.empty() ? std::string(".") : folder);
  const int fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(errno, native);
  const bool synced = fsync(fd) == 0;
  const int err = errno;
  close(fd);
  return synced || Fail(err, native);
}

bool MoveNoReplace(const std::string& from, const std::string& to) {
  if (FileFaultInjected(FileFault::kMove, from)) return false;
  const std::string src = ToNativePath(from);
  const std::string dst = ToNativePath(to);
  struct stat st;
  if (lstat(src.c_str(), &st) != 0) return Fail(errno, src);
  if (lstat(dst.c_str(), &st) == 0) return FailWith(kErrorAlreadyExists);
  if (rename(src.c_str(), dst.c_str()) != 0) return Fail(errno, dst);
  return true;
}

bool CopyOneFile(const std::string& from, const std::string& to, bool failIfExists) {
  const std::string dst = ToNativePath(to);
  struct stat dt;
  if (lstat(dst.c_str(), &dt) == 0 && !failIfExists && IsReadOnlyFile(dt)) return FailWith(kErrorAccessDenied);
  return CopyContents(ToNativePath(from), dst, failIfExists);
}

bool FileSize(const std::string& path, uint64_t* size) {
  const std::string native = ToNativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return Fail(errno, native);
  if (S_ISDIR(st.st_mode)) return FailWith(kErrorAccessDenied);
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool GetFileStamp(const std::string& path, FileStamp* stamp) {
  const std::string native = ToNativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return Fail(errno, native);
  if (S_ISDIR(st.st_mode)) return FailWith(kErrorAccessDenied);
  stamp->volume = static_cast<uint64_t>(st.st_dev);
  stamp->id = static_cast<uint64_t>(st.st_ino);
  stamp->size = static_cast<uint64_t>(st.st_size);
  stamp->modifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp->changedNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return true;
}

int64_t FileClockNowNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool FindEntries(const std::string& pattern, std::vector<FindEntry>* entries) {
  entries->clear();
  const std::string folderPart = FolderOf(pattern);
  const std::string wildcard = FileNameOf(pattern);
  std::string folder = folderPart.empty() ? std::string(".") : ToNativePath(folderPart);
  if (folder.empty()) folder = ".";
  DIR* dir = opendir(folder.c_str());
  if (!dir) {
    Fail(errno, folder);
    if (t_lastError == kErrorFileNotFound) t_lastError = kErrorPathNotFound;
    return false;
  }
  std::string prefix = folder;
  if (prefix.back() != '/') prefix += '/';
  while (struct dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (!WildcardMatch(wildcard, name)) continue;
    struct stat st;
    if (stat((prefix + name).c_str(), &st) != 0) continue;  // vanished or dangling link
    FindEntry found;
    found.name = name;
    if (S_ISDIR(st.st_mode)) {
      found.attributes = kAttrDirectory;
      found.size = 0;
    } else {
      found.attributes = IsReadOnlyFile(st) ? (kAttrReadOnly | kAttrArchive) : kAttrArchive;
      found.size = static_cast<uint64_t>(st.st_size);
    }
    entries->push_back(std::move(found));
  }
  closedir(dir);
  if (entries->empty()) return FailWith(kErrorFileNotFound);
  return true;
}

bool DiskFreeBytes(const std::string& folder, uint64_t* freeBytes) {
  const std::string native = ToNativePath(folder.empty() ? std::string(".") : folder);
  struct statvfs vfs;
  if (statvfs(native.c_str(), &vfs) != 0) return Fail(errno, native);
  *freeBytes = static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
  return true;
}

// ---- File ----

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    path_ = std::move(other.path_);
    other.handle_ = -1;
  }
  return *this;
}

bool File::Open(const std::string& path, uint32_t access, uint32_t /*share*/, uint32_t disposition) {
  Close();
  const std::string native = ToNativePath(path);
  int flags = O_CLOEXEC;
  switch (access & kReadWrite) {
    case kRead: flags |= O_RDONLY; break;
    case kWrite: flags |= O_WRONLY; break;
    case kReadWrite: flags |= O_RDWR; break;
    default: return FailWith(kErrorInvalidParameter);
  }
  struct stat st;
  const bool exists = stat(native.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return FailWith(kErrorAccessDenied);
  switch (disposition) {
    case kCreateNew:
      if (exists) return FailWith(kErrorFileExists);
      flags |= O_CREAT | O_EXCL;
      break;
    case kCreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case kOpenExisting: break;
    case kOpenAlways: flags |= O_CREAT; break;
    case kTruncateExisting: flags |= O_TRUNC; break;
    default: return FailWith(kErrorInvalidParameter);
  }
  if (exists && (access & kWrite) && IsReadOnlyFile(st)) return FailWith(kErrorAccessDenied);
  int fd = open(native.c_str(), flags, 0666);
  if (fd < 0) return Fail(errno, native);
  handle_ = fd;
  if (FileFaultHookInstalled()) path_ = path;
  // CREATE_ALWAYS and OPEN_ALWAYS report an existing file this way.
  t_lastError = (exists && (disposition == kCreateAlways || disposition == kOpenAlways)) ? kErrorAlreadyExists : 0;
  return true;
}

bool File::IsOpen() const { return handle_ >= 0; }

bool File::Close() {
  bool closed = true;
  if (handle_ >= 0) {
    const bool injected = !path_.empty() && FileFaultInjected(FileFault::kClose, path_);
    closed = close(static_cast<int>(handle_)) == 0 || errno == EINTR || Fail(errno, path_);
    if (injected) closed = FailWith(kErrorDiskFull);
    handle_ = -1;
  }
  path_.clear();
  return closed;
}

bool File::Read(void* buffer, uint32_t size, uint32_t* done) {
  *done = 0;
  if (handle_ < 0) return FailWith(kErrorInvalidHandle);
  char* out = static_cast<char*>(buffer);
  while (*done < size) {
    ssize_t got = read(static_cast<int>(handle_), out + *done, size - *done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Fail(errno, std::string());
    }
    if (got == 0) break;
    *done += static_cast<uint32_t>(got);
  }
  return true;
}

bool File::Write(const void* buffer, uint32_t size, uint32_t* done) {
  *done = 0;
  if (handle_ < 0) return FailWith(kErrorInvalidHandle);
  if (!path_.empty() && FileFaultInjected(FileFault::kWrite, path_)) return false;
  const char* in = static_cast<const char*>(buffer);
  while (*done < size) {
    ssize_t put = write(static_cast<int>(handle_), in + *done, size - *done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return Fail(errno, std::string());
    }
    *done += static_cast<uint32_t>(put);
  }
  return true;
}

bool File::Seek(int64_t offset, int whence, uint64_t* newPosition) {
  if (handle_ < 0) return FailWith(kErrorInvalidHandle);
  int how = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : SEEK_END;
  off_t pos = lseek(static_cast<int>(handle_), static_cast<off_t>(offset), how);
  if (pos < 0) return FailWith(kErrorInvalidParameter);
  if (newPosition) *newPosition = static_cast<uint64_t>(pos);
  return true;
}

bool File::Size(uint64_t* size) {
  if (handle_ < 0) return FailWith(kErrorInvalidHandle);
  struct stat st;
  if (fstat(static_cast<int>(handle_), &st) != 0) return Fail(errno, std::string());
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool File::Flush() {
  if (handle_ < 0) return FailWith(kErrorInvalidHandle);
  if (fsync(static_cast<int>(handle_)) != 0) return Fail(errno, std::string());
  return true;
}

bool File::Truncate() {
  if (handle_ < 0) return FailWith(kErrorInvalidHandle);
  off_t pos = lseek(static_cast<int>(handle_), 0, SEEK_CUR);
  if (pos < 0 || ftruncate(static_cast<int>(handle_), pos) != 0) return Fail(errno, std::string());
  return true;
}

}  // namespace plat
