#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_map.h"
#include "platform/file_system.h"
#include "platform/path.h"

namespace plat {

namespace {

intptr_t FailWith(uint32_t code) {
  SetLastError(code);
  return kNoMapHandle;
}

uint32_t CodeOf(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return kErrorAccessDenied;
    case ENOMEM: return kErrorNotEnoughMemory;
    default: return kErrorInvalidParameter;
  }
}

}  // namespace

intptr_t MapFileOpen(const std::string& path, MapAccess access) {
  const bool readOnly = access == MapAccess::kRead;
  const std::string native = ToNativePath(path);
  struct stat st;
  if (stat(native.c_str(), &st) != 0) return FailWith(CodeOf(errno));
  if (!S_ISREG(st.st_mode)) return FailWith(kErrorAccessDenied);
  // Windows refuses write access to a read-only file even for an
  // administrator; root would get it here, so the check is explicit.
  if (!readOnly && (st.st_mode & S_IWUSR) == 0) return FailWith(kErrorAccessDenied);
  const int fd = open(native.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) return FailWith(CodeOf(errno));
  // The stand-in for opening without sharing: a second opener through this
  // interface finds the lock taken and fails at once instead of waiting.
  if (flock(fd, (readOnly ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    close(fd);
    return FailWith(kErrorSharingViolation);
  }
  return fd;
}

bool MapFileSize(intptr_t file, uint64_t* size) {
  struct stat st;
  if (file == kNoMapHandle || fstat(static_cast<int>(file), &st) != 0) {
    SetLastError(kErrorInvalidHandle);
    return false;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

intptr_t MapFileCreateMapping(intptr_t file, uint32_t size, MapAccess /*access*/) {
  if (file == kNoMapHandle || size == 0) return FailWith(kErrorInvalidParameter);
  // A mapping must not reach past the end of the file: pages beyond it
  // would fault on access instead of failing here.
  uint64_t fileSize = 0;
  if (!MapFileSize(file, &fileSize) || fileSize < size) return FailWith(kErrorInvalidParameter);
  const int copy = fcntl(static_cast<int>(file), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return FailWith(CodeOf(errno));
  return copy;
}

void* MapFileView(intptr_t mapping, uint32_t size, MapAccess access) {
  if (mapping == kNoMapHandle || size == 0) {
    SetLastError(kErrorInvalidParameter);
    return nullptr;
  }
  const bool readOnly = access == MapAccess::kRead;
  int flags = MAP_SHARED;
#ifdef MAP_POPULATE
  // A read view is read whole, front to back: its page tables are cheaper
  // filled in one go than fault by fault.
  if (readOnly) flags |= MAP_POPULATE;
#endif
  void* view = mmap(nullptr, size, readOnly ? PROT_READ : PROT_READ | PROT_WRITE, flags, static_cast<int>(mapping), 0);
  if (view == MAP_FAILED) {
    SetLastError(CodeOf(errno));
    return nullptr;
  }
  return view;
}

void MapFileUnmap(void* view, uint32_t size) {
  if (view != nullptr && size != 0) munmap(view, size);
}

void MapFileClose(intptr_t handle) {
  if (handle != kNoMapHandle) close(static_cast<int>(handle));
}

}  // namespace plat
