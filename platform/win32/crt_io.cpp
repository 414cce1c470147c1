#include "platform/crt_io.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>

namespace plat {

// The C runtime's own descriptor functions; files are shared for reading
// and writing with other openers (_open's default).
intptr_t CrtOpen(const char* path, int oflag, int pmode) {
  if (!path) {
    errno = EINVAL;
    return -1;
  }
  return _open(path, oflag, pmode);
}

uint32_t CrtRead(intptr_t fd, void* buffer, uint32_t count) {
  if (count > INT_MAX) count = INT_MAX;
  const int got = _read(static_cast<int>(fd), buffer, count);
  return got < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(got);
}

uint32_t CrtWrite(intptr_t fd, const void* buffer, uint32_t count) {
  if (count > INT_MAX) count = INT_MAX;
  const int put = _write(static_cast<int>(fd), buffer, count);
  return put < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(put);
}

int CrtClose(intptr_t fd) { return _close(static_cast<int>(fd)); }

int32_t CrtSeek(intptr_t fd, int32_t offset, int origin) {
  return static_cast<int32_t>(_lseek(static_cast<int>(fd), offset, origin));
}

int CrtErrno() { return errno; }

void* CrtAlloc(uint32_t size) { return malloc(size); }
void CrtFree(void* block) { free(block); }

bool WriteGathered(FILE* file, const WritePiece* pieces, size_t count) {
  // WriteFileGather takes only whole unbuffered pages: the pieces go one
  // call each.
  for (size_t i = 0; i < count; ++i) {
    if (pieces[i].size != 0 && fwrite(pieces[i].data, 1, pieces[i].size, file) != pieces[i].size) return false;
  }
  return true;
}

}  // namespace plat
