// libFuzzer target: the socket transfer's reader of an HTTP response head,
// fed the input as the server's bytes, in pieces of the sizes the reader
// asks for. The first byte says whether a resume offset is asked for and
// after how many bytes the connection fails instead of closing.
#include <cstring>

#include "download/http_socket.h"
#include "tests/fuzz/fuzz_target.h"

PATCHER_FUZZ_TARGET(http_head) {
  if (size < 1) return 0;
  const bool resuming = (data[0] & 1) != 0;
  const bool failsAtEnd = (data[0] & 2) != 0;
  const uint8_t* next = data + 1;
  const uint8_t* const end = data + size;
  const HeadReceive receive = [&](void* buffer, int32_t length) -> int32_t {
    FUZZ_CHECK(length > 0);
    if (next == end) return failsAtEnd ? -1 : 0;
    const int32_t n = static_cast<int32_t>(end - next) < length ? static_cast<int32_t>(end - next) : length;
    memcpy(buffer, next, static_cast<size_t>(n));
    next += n;
    return n;
  };
  int32_t contentLength = -2;
  int32_t resumeOffset = -2;
  const bool accepted = ParseHttpResponseHead(receive, &contentLength, resuming ? &resumeOffset : nullptr);
  FUZZ_CHECK(contentLength >= -1);
  FUZZ_CHECK(!resuming || !accepted || resumeOffset != -2);
  return 0;
}
