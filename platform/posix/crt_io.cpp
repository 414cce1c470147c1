#include "platform/crt_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/path.h"

namespace plat {

namespace {

thread_local int tCrtErrno = 0;

int ToCrtErrno(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kCrtErrNoEnt;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
    case ETXTBSY:
      return kCrtErrAccess;
    case EEXIST:
      return kCrtErrExist;
    case EMFILE:
    case ENFILE:
      return kCrtErrMFile;
    case ENOSPC:
    case EDQUOT:
      return kCrtErrNoSpc;
    case EBADF:
      return kCrtErrBadF;
    default:
      return kCrtErrInval;
  }
}

void SetErrno(int e) { tCrtErrno = ToCrtErrno(e); }

}  // namespace

intptr_t CrtOpen(const char* path, int oflag, int pmode) {
  if (!path) {
    tCrtErrno = kCrtErrInval;
    return -1;
  }
  int flags = O_CLOEXEC;
  switch (oflag & 3) {
    case kCrtReadOnly:
      flags |= O_RDONLY;
      break;
    case kCrtWriteOnly:
      flags |= O_WRONLY;
      break;
    case kCrtReadWrite:
      flags |= O_RDWR;
      break;
    default:
      tCrtErrno = kCrtErrInval;
      return -1;
  }
  if (oflag & kCrtAppend) flags |= O_APPEND;
  if (oflag & kCrtCreate) flags |= O_CREAT;
  if (oflag & kCrtTruncate) flags |= O_TRUNC;
  if (oflag & kCrtExclusive) flags |= O_EXCL;
  // Binary/text, sequential/random, short-lived and no-inherit are hints or
  // Windows-only distinctions; text mode's CR-LF translation is not done.
  // Windows keeps only a read-only attribute: read is always granted.
  mode_t mode = 0444;
  if (pmode & kCrtPermWrite) mode |= 0222;

  const std::string native = ToNativePath(path);
  const int fd = open(native.c_str(), flags, mode);
  if (fd < 0) {
    SetErrno(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    // The C runtime cannot open a folder as a file.
    close(fd);
    tCrtErrno = kCrtErrAccess;
    return -1;
  }
  if (oflag & kCrtTemporary) unlink(native.c_str());  // gone once closed
  return fd;
}

uint32_t CrtRead(intptr_t fd, void* buffer, uint32_t count) {
  if (count > INT_MAX) count = INT_MAX;
  for (;;) {
    const ssize_t got = read(static_cast<int>(fd), buffer, count);
    if (got >= 0) return static_cast<uint32_t>(got);
    if (errno == EINTR) continue;
    SetErrno(errno);
    return 0xFFFFFFFFu;
  }
}

uint32_t CrtWrite(intptr_t fd, const void* buffer, uint32_t count) {
  if (count > INT_MAX) count = INT_MAX;
  const uint8_t* at = static_cast<const uint8_t*>(buffer);
  uint32_t done = 0;
  // Like the C runtime, a write returns short only when the disk is full.
  while (done < count) {
    const ssize_t put = write(static_cast<int>(fd), at + done, count - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      SetErrno(errno);
      return done ? done : 0xFFFFFFFFu;
    }
    if (put == 0) {
      tCrtErrno = kCrtErrNoSpc;
      break;
    }
    done += static_cast<uint32_t>(put);
  }
  return done;
}

int CrtClose(intptr_t fd) {
  if (close(static_cast<int>(fd)) != 0) {
    SetErrno(errno);
    return -1;
  }
  return 0;
}

int32_t CrtSeek(intptr_t fd, int32_t offset, int origin) {
  int whence;
  switch (origin) {
    case 0:
      whence = SEEK_SET;
      break;
    case 1:
      whence = SEEK_CUR;
      break;
    case 2:
      whence = SEEK_END;
      break;
    default:
      tCrtErrno = kCrtErrInval;
      return -1;
  }
  const off_t at = lseek(static_cast<int>(fd), static_cast<off_t>(offset), whence);
  if (at < 0) {
    SetErrno(errno);
    return -1;
  }
  if (at > INT32_MAX) {
    tCrtErrno = kCrtErrInval;
    return -1;
  }
  return static_cast<int32_t>(at);
}

int CrtErrno() { return tCrtErrno; }

void* CrtAlloc(uint32_t size) { return malloc(size); }
void CrtFree(void* block) { free(block); }

bool WriteGathered(FILE* file, const WritePiece* pieces, size_t count) {
  if (fflush(file) != 0) return false;
  const int fd = fileno(file);
  constexpr size_t kMaxVectors = 1024;  // IOV_MAX on Linux and the BSDs
  iovec vectors[kMaxVectors];
  size_t next = 0;    // the first piece not yet wholly written
  size_t offset = 0;  // bytes of it already written
  while (next < count) {
    size_t used = 0;
    for (size_t i = next; i < count && used < kMaxVectors; ++i) {
      const size_t skip = i == next ? offset : 0;
      if (pieces[i].size == skip) continue;
      vectors[used].iov_base = const_cast<char*>(static_cast<const char*>(pieces[i].data) + skip);
      vectors[used].iov_len = pieces[i].size - skip;
      ++used;
    }
    if (used == 0) return true;
    const ssize_t done = writev(fd, vectors, static_cast<int>(used));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    // A short write (a full disk, a signal) goes on from where it stopped.
    size_t left = static_cast<size_t>(done);
    while (next < count && left >= pieces[next].size - offset) {
      left -= pieces[next].size - offset;
      offset = 0;
      ++next;
    }
    offset += left;
  }
  return true;
}

}  // namespace plat
