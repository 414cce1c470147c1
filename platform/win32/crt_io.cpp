#include "platform/crt_io.h"

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <vector>

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
  // WriteFileGather takes only whole pages of unbuffered files, so short
  // pieces are gathered here into large writes: a call per piece would cost
  // more than the copy saves. Long pieces go as they are.
  constexpr size_t kStage = 1u << 20;
  constexpr size_t kDirect = kStage / 4;
  std::vector<char> stage;
  auto flushStage = [&] {
    const bool ok = stage.empty() || fwrite(stage.data(), 1, stage.size(), file) == stage.size();
    stage.clear();
    return ok;
  };
  for (size_t i = 0; i < count; ++i) {
    const char* data = static_cast<const char*>(pieces[i].data);
    const size_t size = pieces[i].size;
    if (size >= kDirect) {
      if (!flushStage() || fwrite(data, 1, size, file) != size) return false;
      continue;
    }
    if (stage.size() + size > kStage && !flushStage()) return false;
    if (stage.capacity() < kStage) stage.reserve(kStage);
    stage.insert(stage.end(), data, data + size);
  }
  return flushStage();
}

}  // namespace plat
